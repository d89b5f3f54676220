#pragma once

class QString;
class QWidget;

// Shows the modal critical box titled `title` with the one button OK. The text is shown as plain text,
// never as markup: it may hold the player's folder names.
void showCriticalPlainText(QWidget *parent, const QString &title, const QString &text);
