// The error text of one ccTalk transaction as the lists show it. The shared
// echo message keeps every echo error of the run, and each failed send quotes
// all of them: on a silent bus the text grows by one error per send. An item
// shows its own send's echo error once, and no item carries more than
// kMaxShownError characters.
#pragma once

#include <QString>

#include <string>

constexpr qsizetype kMaxShownError = 1000;

// `errorText` with the echo errors of earlier sends left out, then bounded.
QString ShownCcTalkError(const std::string& errorText);
// `text` cut to kMaxShownError characters, marked with "..." when cut.
QString BoundedErrorText(const QString& text);
