#include "fs/ntfs/MftReader.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>

#include "fs/ntfs/NtfsLayout.h"

namespace restovo {

bool CheckFixups(const TNtfsGeometry& geometry, std::byte* buffer, std::int64_t count, const char* signature) {
  if (buffer == nullptr || count < 16 || std::memcmp(buffer, signature, 4) != 0) return false;
  const TBytes b(buffer, static_cast<std::size_t>(count));
  const std::int64_t usaOffset = ReadU16(b, 0x04);
  const std::int64_t usaCount = ReadU16(b, 0x06);
  const std::int64_t sector = geometry.BytesPerSector;
  // One entry for the sequence number and one per sector: fewer protects nothing and is
  // no record a volume writes.
  if (usaCount < 2 || sector < 2 || usaOffset + 2 * usaCount > count ||
      (usaCount - 1) * sector > count) {
    return false;
  }
  const std::uint16_t usn = ReadU16(b, static_cast<std::size_t>(usaOffset));
  for (std::int64_t k = 1; k < usaCount; ++k) {
    const std::int64_t last = k * sector - 2;
    if (ReadU16(b, static_cast<std::size_t>(last)) != usn) return false;
  }
  for (std::int64_t k = 1; k < usaCount; ++k) {
    const std::int64_t last = k * sector - 2;
    buffer[last] = buffer[usaOffset + 2 * k];
    buffer[last + 1] = buffer[usaOffset + 2 * k + 1];
  }
  return true;
}

const char* AttrTypeName(std::uint32_t type) {
  switch (type) {
    case 0x10: return "$STANDARD_INFORMATION";
    case 0x20: return "$ATTRIBUTE_LIST";
    case 0x30: return "$FILE_NAME";
    case 0x40: return "$OBJECT_ID";
    case 0x50: return "$SECURITY_DESCRIPTOR";
    case 0x60: return "$VOLUME_NAME";
    case 0x70: return "$VOLUME_INFORMATION";
    case 0x80: return "$DATA";
    case 0x90: return "$INDEX_ROOT";
    case 0xA0: return "$INDEX_ALLOCATION";
    case 0xB0: return "$BITMAP";
    case 0xC0: return "$REPARSE_POINT";
    case 0xD0: return "$EA_INFORMATION";
    case 0xE0: return "$EA";
    case 0xF0: return "$PROPERTY_SET";
    case 0x100: return "$LOGGED_UTILITY_STREAM";
    default: return "";
  }
}

bool DecodeRunList(TBytes pairs, std::int64_t firstVcn, std::vector<TRunNode>& runs,
                   std::int64_t& allocated) {
  // 2^38 clusters (an exbibyte at 4 KiB) times the largest cluster (2^24 bytes) still fits
  // 63 bits, so byte offsets made from runs never overflow.
  constexpr std::int64_t kMax = std::int64_t{1} << 38;
  std::int64_t lcn = 0;
  std::int64_t vcn = firstVcn;
  std::size_t at = 0;
  while (at < pairs.size()) {
    const std::uint8_t header = ReadU8(pairs, at);
    if (header == 0) return true;
    const unsigned lengthBytes = header & 0x0F;
    const unsigned offsetBytes = header >> 4;
    if (lengthBytes == 0 || lengthBytes > 8 || offsetBytes > 8 ||
        at + 1 + lengthBytes + offsetBytes > pairs.size()) {
      return false;
    }
    std::uint64_t length = 0;
    for (unsigned i = 0; i < lengthBytes; ++i) length |= std::uint64_t{ReadU8(pairs, at + 1 + i)} << (8 * i);
    std::uint64_t delta = 0;
    for (unsigned i = 0; i < offsetBytes; ++i)
      delta |= std::uint64_t{ReadU8(pairs, at + 1 + lengthBytes + i)} << (8 * i);
    if (offsetBytes > 0 && offsetBytes < 8 && ((delta >> (8 * offsetBytes - 1)) & 1))
      delta |= ~std::uint64_t{0} << (8 * offsetBytes);
    at += 1 + lengthBytes + offsetBytes;
    const auto offset = static_cast<std::int64_t>(delta);
    // Lengths and clusters beyond any real volume are damage, not data.
    if (length > static_cast<std::uint64_t>(kMax) || vcn > kMax - static_cast<std::int64_t>(length) ||
        offset > kMax || offset < -kMax) {
      return false;
    }
    vcn += static_cast<std::int64_t>(length);
    const bool sparse = offsetBytes == 0;
    if (!sparse) {
      lcn += offset;
      if (lcn < 0 || lcn > kMax) return false;
      allocated += static_cast<std::int64_t>(length);
    }
    runs.push_back({sparse ? -1 : lcn, vcn});
  }
  return false;
}

void TInodeData::Reset(std::int64_t recordNo) {
  RecordNo = recordNo;
  ParentRecordNo = 5;
  IsDirectory = InUse = HasAttrList = HasResident = BrokenOff = false;
  LongName.clear();
  DosName.clear();
  ResidentSize = 0;
  ResidentOffset = 0;
  CreationTime = WriteTime = ChangeTime = AccessTime = 0;
  StreamCount = 0;
}

const TNtfsStreamInfo* TInodeData::Find(std::uint32_t type, std::u16string_view name) const {
  for (std::size_t i = 0; i < StreamCount; ++i) {
    const TNtfsStreamInfo& s = Streams[i];
    if (s.AttrType != type || s.Name.size() != name.size()) continue;
    bool same = true;
    for (std::size_t k = 0; k < name.size() && same; ++k) {
      auto fold = [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; };
      same = fold(s.Name[k]) == fold(name[k]);
    }
    if (same) return &s;
  }
  return nullptr;
}

const TNtfsStreamInfo* TInodeData::UnnamedData() const { return Find(0x80, u""); }

namespace {

// The attribute's name, read unit by unit (names need not be aligned in the record).
void AttributeName(TBytes a, std::u16string& out) {
  out.clear();
  const std::size_t length = ReadU8(a, ntfs::kAttrNameLength);
  const std::size_t offset = ReadU16(a, ntfs::kAttrNameOffset);
  if (length == 0 || offset + 2 * length > a.size()) return;
  for (std::size_t i = 0; i < length; ++i) out.push_back(ReadU16(a, offset + 2 * i));
}

void ReadName(TBytes value, std::u16string& out) {
  const std::size_t length = ReadU8(value, ntfs::kNameLength);
  out.clear();
  for (std::size_t i = 0; i < length && ntfs::kNameChars + 2 * i + 1 < value.size(); ++i)
    out.push_back(ReadU16(value, ntfs::kNameChars + 2 * i));
}

std::int64_t ReadSize(TBytes a, std::size_t at) {
  return static_cast<std::int64_t>(ReadU64(a, at) & 0x7FFFFFFFFFFFFFFFull);
}

// False when the run list cannot be decoded whole.
bool AddStream(TInodeData& inode, TBytes a, std::u16string_view name) {
  const std::uint32_t type = ReadU32(a, ntfs::kAttrType);
  const std::int64_t firstVcn = ReadSize(a, ntfs::kNonResFirstVcn);
  const std::size_t pairsAt = ReadU16(a, ntfs::kNonResPairsOffset);
  TNtfsStreamInfo* stream = const_cast<TNtfsStreamInfo*>(inode.Find(type, name));
  if (stream == nullptr) {
    if (inode.StreamCount == inode.Streams.size()) inode.Streams.emplace_back();
    stream = &inode.Streams[inode.StreamCount++];
    stream->Name.assign(name.begin(), name.end());
    stream->AttrType = type;
    stream->Runs.clear();
    stream->AllocClusters = 0;
    stream->DataSize = ReadSize(a, ntfs::kNonResDataSize);
    stream->InitializedSize = ReadSize(a, ntfs::kNonResInitializedSize);
    stream->Flags = ReadU16(a, ntfs::kAttrFlags);
    stream->CompressionUnit = ReadU8(a, ntfs::kNonResCompressionUnit);
  } else if (!stream->Runs.empty() && stream->Runs.back().NextVcn != firstVcn) {
    return true;  // an extent that does not continue the stream
  }
  if (stream->DataSize == 0) stream->DataSize = ReadSize(a, ntfs::kNonResDataSize);
  if (pairsAt >= a.size()) return false;
  return DecodeRunList(a.subspan(pairsAt), firstVcn, stream->Runs, stream->AllocClusters);
}

}  // namespace

TRecordKind ParseFileRecord(TBytes record, TInodeData& inode) {
  if (record.size() < ntfs::kRecordHeaderBytes) return TRecordKind::Invalid;
  if ((ReadU64(record, ntfs::kRecordBaseRef) & ntfs::kReferenceMask) != 0) return TRecordKind::Extension;
  const std::size_t first = ReadU16(record, ntfs::kRecordFirstAttr);
  const std::size_t used = ReadU32(record, ntfs::kRecordUsedBytes);
  if (first >= record.size() || used > record.size()) return TRecordKind::Invalid;
  const std::uint16_t flags = ReadU16(record, ntfs::kRecordFlags);
  inode.InUse = flags & ntfs::kRecordInUse;
  inode.IsDirectory = flags & ntfs::kRecordIsDirectory;

  // The list ends with its end mark; an attribute whose length leads nowhere breaks it off,
  // and what came before it is kept with the record marked.
  std::size_t at = first;
  bool ended = false;
  while (at + 8 <= record.size()) {
    const std::uint32_t type = ReadU32(record, at + ntfs::kAttrType);
    if (type == ntfs::kAttrEnd) {
      ended = true;
      break;
    }
    const std::uint32_t length = ReadU32(record, at + ntfs::kAttrLength);
    if (length < ntfs::kAttrMinLength || length > record.size() - at) break;
    const TBytes a = record.subspan(at, length);
    thread_local std::u16string name;
    AttributeName(a, name);
    if (type == ntfs::kAttributeList) inode.HasAttrList = true;
    if (ReadU8(a, ntfs::kAttrNonResident) != 0) {
      if (length < ntfs::kNonResHeaderBytes || !AddStream(inode, a, name)) inode.BrokenOff = true;
    } else {
      const std::size_t valueLength = ReadU32(a, ntfs::kResValueLength);
      const std::size_t valueOffset = ReadU16(a, ntfs::kResValueOffset);
      const bool valueInside = valueOffset <= length && valueLength <= length - valueOffset;
      if (!valueInside) inode.BrokenOff = true;
      const TBytes value = valueInside ? a.subspan(valueOffset, valueLength) : TBytes();
      if (type == ntfs::kFileName && value.size() >= ntfs::kNameChars) {
        inode.ParentRecordNo = static_cast<std::int64_t>(ReadU64(value, ntfs::kNameParent) & ntfs::kReferenceMask);
        const bool dos = ReadU8(value, ntfs::kNameSpace) == ntfs::kNameSpaceDos;
        std::u16string& target = dos ? inode.DosName : inode.LongName;
        if (target.empty()) ReadName(value, target);
      } else if (type == ntfs::kStandardInformation && value.size() >= ntfs::kInfoTimesBytes) {
        inode.CreationTime = ReadU64(value, ntfs::kInfoCreated);
        inode.WriteTime = ReadU64(value, ntfs::kInfoWritten);
        inode.ChangeTime = ReadU64(value, ntfs::kInfoChanged);
        inode.AccessTime = ReadU64(value, ntfs::kInfoAccessed);
      } else if (type == ntfs::kData && name.empty() && valueInside) {
        // Only the unnamed stream is the file's content; a resident named stream is not.
        inode.ResidentSize = static_cast<std::int64_t>(valueLength);
        inode.HasResident = true;
        inode.ResidentOffset = static_cast<std::uint32_t>(at + valueOffset);
      }
    }
    at += length;
  }
  if (!ended) inode.BrokenOff = true;
  return TRecordKind::Base;
}

TBytes ResidentValue(TBytes record, std::uint32_t type, std::u16string_view name) {
  if (record.size() < ntfs::kRecordHeaderBytes) return {};
  std::u16string have;
  for (std::size_t at = ReadU16(record, ntfs::kRecordFirstAttr); at + 8 <= record.size();) {
    const std::uint32_t t = ReadU32(record, at + ntfs::kAttrType);
    const std::uint32_t length = ReadU32(record, at + ntfs::kAttrLength);
    if (t == ntfs::kAttrEnd || length < ntfs::kAttrMinLength || length > record.size() - at) break;
    const TBytes a = record.subspan(at, length);
    at += length;
    if (t != type || ReadU8(a, ntfs::kAttrNonResident) != 0) continue;
    AttributeName(a, have);
    if (have != name) continue;
    const std::size_t valueLength = ReadU32(a, ntfs::kResValueLength);
    const std::size_t valueOffset = ReadU16(a, ntfs::kResValueOffset);
    if (valueOffset > length || valueLength > length - valueOffset) return {};
    return a.subspan(valueOffset, valueLength);
  }
  return {};
}

}  // namespace restovo
