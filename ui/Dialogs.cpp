#include "ui/Dialogs.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

#include "texts/FrenchMessages.h"
#include "ui/Screen.h"

QString ApplicationTitle() {
  return QCoreApplication::applicationName();
}

void ShowInformation(QWidget* parent, const QString& text) {
  Screen::TArrowWhileAsking arrow;
  QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), text, QMessageBox::NoButton, parent);
  box.setTextFormat(Qt::PlainText);  // names and replies from the server are never markup
  box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
  box.exec();
}

bool Confirm(QWidget* parent, const QString& text, bool warning) {
  Screen::TArrowWhileAsking arrow;
  QMessageBox box(warning ? QMessageBox::Warning : QMessageBox::Question, QStringLiteral("Confirmation"), text,
                  QMessageBox::NoButton, parent);
  box.setTextFormat(Qt::PlainText);
  QPushButton* yes = box.addButton(QStringLiteral("&Oui"), QMessageBox::YesRole);
  QPushButton* no = box.addButton(QStringLiteral("&Non"), QMessageBox::NoRole);
  box.setDefaultButton(warning ? no : yes);
  box.setEscapeButton(no);
  box.exec();
  return box.clickedButton() == yes;
}

void ShowApplicationError(QWidget* parent, const QString& message) {
  Screen::TArrowWhileAsking arrow;
  const QString text = QString::fromStdString(talvo::texts::WithFullStop(message.toStdString()));
  QMessageBox box(QMessageBox::Critical, ApplicationTitle(), text, QMessageBox::NoButton, parent);
  box.setTextFormat(Qt::PlainText);
  box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
  box.exec();
}
