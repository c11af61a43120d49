#!/usr/bin/python3
"""Draws the two sample advertisement pictures in data/www/ads/ (200 x 60 PNG).

Run once after changing the texts; the pictures are committed, the build does not need Pillow.
"""
import os

from PIL import Image, ImageDraw, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "data", "www", "ads")
FONTS = "/usr/share/fonts/truetype/dejavu"
SCALE = 3  # drawn larger and scaled down for smooth edges
WIDTH, HEIGHT = 200, 60

ADS = [
    ("ad1.png", "Restovo tips", "Scan a card before", "you reuse it", ((29, 78, 137), (47, 128, 237))),
    ("ad2.png", "Back up your photos", "A second copy on another", "disk beats any recovery", ((20, 110, 90), (46, 170, 120))),
]


def font(name, size):
    return ImageFont.truetype(os.path.join(FONTS, name), size * SCALE)


def draw(file_name, title, line1, line2, colors):
    w, h = WIDTH * SCALE, HEIGHT * SCALE
    image = Image.new("RGB", (w, h))
    pen = ImageDraw.Draw(image)
    (r1, g1, b1), (r2, g2, b2) = colors
    for x in range(w):
        t = x / (w - 1)
        pen.line([(x, 0), (x, h)], fill=(round(r1 + (r2 - r1) * t), round(g1 + (g2 - g1) * t), round(b1 + (b2 - b1) * t)))
    # A small card symbol on the left, the texts beside it.
    s = SCALE
    pen.rounded_rectangle([10 * s, 14 * s, 34 * s, 46 * s], radius=3 * s, fill=(255, 255, 255))
    pen.polygon([(26 * s, 14 * s), (34 * s, 14 * s), (34 * s, 22 * s)], fill=colors[0])
    for i in range(4):
        pen.rectangle([(14 + 4 * i) * s, 17 * s, (16 + 4 * i) * s, 23 * s], fill=colors[0])
    pen.text((44 * s, 7 * s), title, font=font("DejaVuSans-Bold.ttf", 12), fill=(255, 255, 255))
    small = font("DejaVuSans.ttf", 10)
    pen.text((44 * s, 26 * s), line1, font=small, fill=(230, 240, 255))
    pen.text((44 * s, 39 * s), line2, font=small, fill=(230, 240, 255))
    image = image.resize((WIDTH, HEIGHT), Image.LANCZOS)
    image.save(os.path.join(OUT, file_name), optimize=True)


if __name__ == "__main__":
    os.makedirs(OUT, exist_ok=True)
    for ad in ADS:
        draw(*ad)
