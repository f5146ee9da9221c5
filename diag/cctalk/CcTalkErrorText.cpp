#include "cctalk/CcTalkErrorText.h"

#include <string_view>

namespace {

constexpr std::string_view kEchoExpected =
    "CcctalkMessage::send () { error: local echo expected - ";
constexpr std::string_view kEchoError = "CcctalkMessage::receive () {";
constexpr std::string_view kClose = " }";

}  // namespace

QString BoundedErrorText(const QString& text) {
  if (text.size() <= kMaxShownError) return text;
  return text.left(kMaxShownError - 3) + QStringLiteral("...");
}

QString ShownCcTalkError(const std::string& errorText) {
  std::string shown = errorText;
  const std::size_t prefix = shown.find(kEchoExpected);
  const std::size_t close = shown.rfind(kClose);
  if (prefix != std::string::npos && close != std::string::npos &&
      close >= prefix + kEchoExpected.size()) {
    // Between the prefix and the closing brace stand the echo errors of the
    // run, oldest first; the last one is this send's own.
    const std::size_t begin = prefix + kEchoExpected.size();
    const std::string_view echo(shown.data() + begin, close - begin);
    const std::size_t own = echo.rfind(kEchoError);
    if (own != std::string_view::npos && own > 0) shown.erase(begin, own);
  }
  return BoundedErrorText(QString::fromLatin1(shown));
}
