#pragma once

#include <QByteArray>
#include <QList>
#include <optional>

// One part of a multipart/form-data body, as a browser or QHttpMultiPart sends it.
struct TFormPart {
  QByteArray Name;        // the form field's name
  QByteArray FileName;    // empty when the part is not a file
  bool HasFileName = false;
  QByteArray ContentType;
  QByteArray Data;
};

// The boundary from a Content-Type header value, or empty when it is not multipart/form-data.
QByteArray MultipartBoundary(const QByteArray &contentType);

// Splits a multipart/form-data body; std::nullopt when the body does not follow the framing
// (no opening boundary, a part without its header block, no closing boundary).
std::optional<QList<TFormPart>> ParseMultipart(const QByteArray &boundary, const QByteArray &body);
