#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <optional>

// Decodes a JPEG held in memory with libjpeg. A picture libjpeg cannot read yields
// nothing and libjpeg's own message in error; it never ends the program.
std::optional<QImage> decodeJpeg(const QByteArray& data, QString* error = nullptr);
