#include "pages/serial/SerialDumpLine.h"

#include <algorithm>

QString SerialDumpLine(std::uint32_t offset, std::span<const std::uint8_t> bytes) {
  const std::size_t n = std::min<std::size_t>(bytes.size(), kSerialDumpBytesPerLine);
  const std::size_t missing = kSerialDumpBytesPerLine - n;
  QString line = QStringLiteral("%1 ").arg(offset, 4, 16, QLatin1Char('0'));
  line.reserve(6 + 3 * kSerialDumpBytesPerLine + kSerialDumpBytesPerLine + 8);
  for (std::size_t i = 0; i < n; ++i)
    line += QStringLiteral("%1 ").arg(static_cast<unsigned>(bytes[i]), 2, 16, QLatin1Char('0'));
  line += QString(static_cast<qsizetype>(3 * missing), QLatin1Char(' '));
  line = line.toUpper();
  for (std::size_t i = 0; i < n; ++i) line += bytes[i] < 0x20 ? QLatin1Char('.') : QChar(bytes[i]);
  line += QString(static_cast<qsizetype>(missing), QLatin1Char(' '));
  return line;
}
