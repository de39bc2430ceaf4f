#include "app/Startup.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include "app/Unit5.h"
#include "editor/Unit1.h"
#include "link/Link.h"
#include "editor/Unit2.h"
#include "editor/Unit3.h"
#include "state/Unit6.h"

void createWindows() {
  // The main window's construction shows and removes the splash; nothing else exists yet.
  Quorlan = new TQuorlan;
  SMS = new TSMS;
  Form3 = new TForm3;
  Progress = new TProgress;
  Form6 = new TForm6(Quorlan->link());
  QObject::connect(SMS, &TSMS::textAccepted, Quorlan, &TQuorlan::SMSAccepted);
  QObject::connect(Form3, &TForm3::valueAccepted, Quorlan, &TQuorlan::Form3Accepted);
  // Only the main window's closing ends the program.
  for (QWidget *w : {static_cast<QWidget *>(SMS), static_cast<QWidget *>(Form3),
                     static_cast<QWidget *>(Progress), static_cast<QWidget *>(Form6)})
    w->setAttribute(Qt::WA_QuitOnClose, false);
}

void destroyWindows() {
  delete Form6;
  Form6 = nullptr;
  delete Progress;
  Progress = nullptr;
  delete Form3;
  Form3 = nullptr;
  delete SMS;
  SMS = nullptr;
  delete Quorlan;
  Quorlan = nullptr;
}

bool loadQtTranslations() {
  static QTranslator *installed = nullptr;
  if (installed) return true;
  auto *qt = new QTranslator(QCoreApplication::instance());
  if (qt->load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
      QCoreApplication::installTranslator(qt)) {
    installed = qt;
    return true;
  }
  delete qt;
  return false;
}
