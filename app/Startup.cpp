#include "app/Startup.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTimer>
#include <QTranslator>

#include "app/uZastavka.h"
#include "editor/EditorFiles.h"
#include "editor/Unit1.h"
#include "editor/Unit2.h"
#include "editor/Unit3.h"
#include "link/Link.h"
#include "state/Unit6.h"
#include "widgets/Unit5.h"

TLink *theLink = nullptr;

namespace {
bool ownLink = false;
}

void createWindows(TLink *link) {
  // The splash goes up before anything else is built, and is painted at once; it is gone
  // once the main window stands.
  Form4 = new TForm4;
  Form4->show();
  Form4->repaint();
  QApplication::processEvents();

  ownLink = !link;
  theLink = link ? link : new TLink;
  // The pages no tab shows at first are built after the main window's first paint.
  Quorlan = new TQuorlan(*theLink, nullptr, true);
  Form4->hide();
  delete Form4;
  Form4 = nullptr;
  SMS = new TSMS;
  Form3 = new TForm3;
  Progress = new TProgress;
  Form6 = new TForm6(theLink);
  // Made after the main window, so handed to it before it is shown.
  Quorlan->setProgress(Progress);

  QObject::connect(Quorlan, &TQuorlan::messageDialogRequested, SMS, &TValueDialog::openWith);
  QObject::connect(Quorlan, &TQuorlan::thresholdDialogRequested, Form3, &TValueDialog::openWith);
  QObject::connect(SMS, &TSMS::textAccepted, Quorlan, &TQuorlan::SMSAccepted);
  QObject::connect(Form3, &TForm3::valueAccepted, Quorlan, &TQuorlan::Form3Accepted);
  QObject::connect(Quorlan, &TQuorlan::stateWindowRequested, Form6, &TForm6::N9Click);
  // Only the main window's closing ends the program.
  for (QWidget *w : {static_cast<QWidget *>(SMS), static_cast<QWidget *>(Form3),
                     static_cast<QWidget *>(Progress), static_cast<QWidget *>(Form6)})
    w->setAttribute(Qt::WA_QuitOnClose, false);
}

void destroyWindows() {
  delete Form6;
  Form6 = nullptr;
  delete Form3;
  Form3 = nullptr;
  delete SMS;
  SMS = nullptr;
  delete Quorlan;
  Quorlan = nullptr;
  // After the windows that talk through it: none of them hears from it any more.
  if (ownLink) delete theLink;
  theLink = nullptr;
  ownLink = false;
  // Last: the main window shows its operations in it up to its end.
  delete Progress;
  Progress = nullptr;
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

QString fileArgument(const QStringList &arguments) {
  for (qsizetype i = 1; i < arguments.size(); ++i)
    if (!arguments[i].isEmpty() && !arguments[i].startsWith(QLatin1Char('-'))) return arguments[i];
  return QString();
}

void openAtStart(const QString &path) {
  if (!Quorlan || path.isEmpty()) return;
  const auto open = [path] {
    if (Quorlan) TEditorFiles(Quorlan, Progress).open(path);
  };
  if (Quorlan->Timer1->isActive())
    QObject::connect(Quorlan->Timer1, &QTimer::timeout, Quorlan, open,
                     Qt::ConnectionType(Qt::QueuedConnection | Qt::SingleShotConnection));
  else
    QTimer::singleShot(0, Quorlan, open);
}
