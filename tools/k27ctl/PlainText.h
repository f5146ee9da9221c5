// Failure texts for people. The ccTalk frame code words its failures as
// the diagnostics program shows them, "CcctalkMessage::send () { error: ... }";
// a script's log gets what happened instead, never a class name.
#pragma once

#include <string>

namespace vantrel::ctl {

std::string PlainText(const std::string& text);

}  // namespace vantrel::ctl
