// Names and texts from the server and the disk are byte strings. The window shows them as
// UTF-8 when they are valid UTF-8 and as Latin-1 otherwise, and always hands the original
// bytes back to the engine, so a name is never altered by a round trip through a list.
#pragma once

#include <QString>
#include <string>
#include <string_view>

QString DisplayText(std::string_view bytes);

// What the user typed, as the bytes to send or to use as a local name (UTF-8).
std::string TypedBytes(const QString& text);
