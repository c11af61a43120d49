#!/usr/bin/python3
"""Writes N files of the kinds people lose into OUTDIR, made by the real encoders and
libraries (Pillow for JPEG, PNG and PDF, zipfile for ZIP and DOCX, sqlite3, wave), of
varied sizes, seeded so the same N gives the same files, and prints one line per file:
relative path, kind.

    gen-content-files.py OUTDIR N [SEED]
"""
import io
import math
import random
import sqlite3
import struct
import sys
import wave
import zipfile
from pathlib import Path

from PIL import Image, ImageDraw, ImageFilter

out, count = Path(sys.argv[1]), int(sys.argv[2])
first_seed = int(sys.argv[3]) if len(sys.argv) > 3 else 2026
rng = random.Random(first_seed)


def picture(width, height, seed):
    r = random.Random(seed)
    image = Image.new("RGB", (width, height), (r.randrange(256), r.randrange(256), r.randrange(256)))
    draw = ImageDraw.Draw(image)
    for _ in range(60):
        x, y = r.randrange(width), r.randrange(height)
        w, h = r.randrange(width // 20 + 1, width // 3), r.randrange(height // 20 + 1, height // 3)
        draw.ellipse([x, y, x + w, y + h], fill=(r.randrange(256), r.randrange(256), r.randrange(256)))
    # Noise as a camera's sensor gives, so the pictures compress as photos do.
    noise = Image.effect_noise((width, height), 40).convert("RGB")
    return Image.blend(image.filter(ImageFilter.GaussianBlur(2)), noise, 0.15)


def text(seed, lines):
    r = random.Random(seed)
    words = "the report of the month with figures for each office and the notes from the meeting".split()
    return "".join(" ".join(r.choice(words) for _ in range(12)) + "\n" for _ in range(lines)).encode()


def write(path, data):
    target = out / path
    target.parent.mkdir(parents=True, exist_ok=True)
    target.write_bytes(data)


def save(image, fmt, **options):
    buf = io.BytesIO()
    image.save(buf, fmt, **options)
    return buf.getvalue()


stamp = (2025, 8, 1, 9, 30, 0)
for i in range(count):
    kind = rng.choices(["jpeg", "png", "pdf", "docx", "zip", "wav", "sqlite"], [60, 10, 10, 8, 5, 4, 3])[0]
    seed = first_seed * 1000 + i
    if kind == "jpeg":
        w = rng.choice([640, 1024, 1600, 2048])
        path = "DCIM/100CAMERA/IMG_%04d.JPG" % (1000 + i)
        data = save(picture(w, w * 3 // 4, seed), "JPEG", quality=rng.choice([75, 85, 92]))
    elif kind == "png":
        path = "Pictures/drawing %d.png" % i
        data = save(picture(rng.choice([400, 800]), 300, seed), "PNG")
    elif kind == "pdf":
        path = "Documents/scan %d.pdf" % i
        data = save(picture(850, 1100, seed), "PDF", resolution=100)
    elif kind in ("docx", "zip"):
        buf = io.BytesIO()
        with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
            members = ([("[Content_Types].xml", b"<Types/>"), ("word/document.xml", text(seed, 400))]
                       if kind == "docx" else
                       [("notes %d.txt" % k, text(seed + k, rng.randrange(100, 900))) for k in range(rng.randrange(2, 6))])
            for name, body in members:
                z.writestr(zipfile.ZipInfo(name, stamp), body, compress_type=zipfile.ZIP_DEFLATED)
        path = ("Documents/letter %d.docx" if kind == "docx" else "Documents/archive %d.zip") % i
        data = buf.getvalue()
    elif kind == "wav":
        sound = io.BytesIO()
        with wave.open(sound, "wb") as wav:
            wav.setnchannels(1)
            wav.setsampwidth(2)
            wav.setframerate(16000)
            frames = rng.randrange(40000, 200000)
            wav.writeframes(b"".join(struct.pack("<h", int(9000 * math.sin(k / (5 + i % 7)))) for k in range(frames)))
        path = "Music/recording %d.wav" % i
        data = sound.getvalue()
    else:
        db = out / ".scratch.sqlite"
        db.unlink(missing_ok=True)
        con = sqlite3.connect(db)
        con.execute("create table notes(id integer primary key, body text)")
        con.executemany("insert into notes(body) values (?)", [(text(seed + k, 3).decode(),) for k in range(800)])
        con.commit()
        con.close()
        data = db.read_bytes()
        db.unlink()
        path = "Documents/contacts %d.sqlite" % i
    write(path, data)
    print("%s\t%s" % (path, kind))
