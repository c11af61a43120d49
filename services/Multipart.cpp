#include "Multipart.h"

namespace {

// Splits "form-data; name=\"file\"; filename=\"a;b.txt\"" into its parameters. Quoted values
// may hold ';' and backslash escapes, so a plain split is not enough.
QList<QPair<QByteArray, QByteArray>> HeaderParameters(const QByteArray &value) {
  QList<QPair<QByteArray, QByteArray>> result;
  qsizetype i = value.indexOf(';');
  if (i < 0)
    return result;
  ++i;
  const qsizetype n = value.size();
  while (i < n) {
    while (i < n && (value[i] == ' ' || value[i] == '\t' || value[i] == ';'))
      ++i;
    const qsizetype keyStart = i;
    while (i < n && value[i] != '=' && value[i] != ';')
      ++i;
    const QByteArray key = value.mid(keyStart, i - keyStart).trimmed().toLower();
    QByteArray val;
    if (i < n && value[i] == '=') {
      ++i;
      if (i < n && value[i] == '"') {
        ++i;
        while (i < n && value[i] != '"') {
          // Only an escaped quote is unescaped: browsers send Windows paths with bare backslashes.
          if (value[i] == '\\' && i + 1 < n && value[i + 1] == '"')
            ++i;
          val.append(value[i]);
          ++i;
        }
        ++i;  // closing quote
      } else {
        const qsizetype valStart = i;
        while (i < n && value[i] != ';')
          ++i;
        val = value.mid(valStart, i - valStart).trimmed();
      }
    }
    if (!key.isEmpty())
      result.append({key, val});
  }
  return result;
}

}  // namespace

QByteArray MultipartBoundary(const QByteArray &contentType) {
  const qsizetype semicolon = contentType.indexOf(';');
  const QByteArray type = contentType.left(semicolon < 0 ? contentType.size() : semicolon).trimmed();
  if (type.toLower() != "multipart/form-data")
    return {};
  for (const auto &[key, value] : HeaderParameters(contentType))
    if (key == "boundary")
      return value;
  return {};
}

std::optional<QList<TFormPart>> ParseMultipart(const QByteArray &boundary, const QByteArray &body) {
  if (boundary.isEmpty())
    return std::nullopt;
  const QByteArray delimiter = "--" + boundary;
  const QByteArray nextDelimiter = "\r\n" + delimiter;

  QList<TFormPart> parts;
  qsizetype pos = body.startsWith(delimiter) ? 0 : body.indexOf(nextDelimiter);
  if (pos < 0)
    return std::nullopt;
  pos += pos == 0 ? delimiter.size() : nextDelimiter.size();

  for (;;) {
    if (body.mid(pos, 2) == "--")
      return parts;
    if (body.mid(pos, 2) != "\r\n")
      return std::nullopt;
    pos += 2;
    const qsizetype headerEnd = body.indexOf("\r\n\r\n", pos);
    const qsizetype dataEnd = body.indexOf(nextDelimiter, pos);
    if (dataEnd < 0)
      return std::nullopt;

    TFormPart part;
    qsizetype dataStart;
    if (body.mid(pos, 2) == "\r\n") {
      dataStart = pos + 2;  // a part without headers
    } else {
      if (headerEnd < 0 || headerEnd > dataEnd)
        return std::nullopt;
      for (const QByteArray &line : body.mid(pos, headerEnd - pos).split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
          continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "content-type") {
          part.ContentType = value;
        } else if (name == "content-disposition") {
          for (const auto &[key, param] : HeaderParameters(value)) {
            if (key == "name") {
              part.Name = param;
            } else if (key == "filename") {
              part.FileName = param;
              part.HasFileName = true;
            }
          }
        }
      }
      dataStart = headerEnd + 4;
    }
    if (dataStart > dataEnd)
      return std::nullopt;
    part.Data = body.mid(dataStart, dataEnd - dataStart);
    parts.append(std::move(part));
    pos = dataEnd + nextDelimiter.size();
  }
}
