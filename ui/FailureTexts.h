// The messages that say what a failure left behind: a command the server refused, with its
// own words, and a file that did not go whole, described from what is on disk now.
#pragma once

#include <QString>
#include <string>
#include <vector>

// A command the server refused: `what` says what was asked ("supprimer le fichier « a »"),
// `reply` is the server's reply line; without one, the command was never sent.
QString RefusedText(const QString& what, const std::string& reply);
// Several files the server refused to delete, each with its reply line.
QString RefusedDeletionsText(const std::vector<std::pair<std::string, std::string>>& refusals);

// A download of `target` that ended before the whole file came, because of `why`: whether
// the local file was left as it was, and where the part received is kept, if anywhere.
QString IncompleteDownloadText(const std::string& target, const QString& why);
// An upload of `name` cut short: the server holds an incomplete copy, if any.
QString IncompleteUploadText(const std::string& name, const QString& why);

// « name », as the window quotes names.
QString Quoted(const std::string& name);
// A byte count grouped by thousands, as French writes numbers: 30 070 005.
QString Bytes(long long count);
