#pragma once

#include <QString>

class QTextBrowser;

// Appends one result line to a tab's log as a paragraph of its own, coloured by a colour word
// ("red", "orange", "green", "yellow"). `html` is inserted as markup: text from the examined machine
// must be escaped by the caller.
void appendLogLine(QTextBrowser *log, const QString &colour, const QString &html);
