// Main window: the port picker, the exchange menu and the two read buttons hand over to the
// exchange panel; the protocol itself is the link's.
#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QStatusBar>

#include "editor/EditorFiles.h"
#include "editor/ExchangePanel.h"
#include "editor/JournalWindow.h"
#include "editor/Unit1.h"
#include "link/Link.h"
#include "widgets/FormKit.h"

void TQuorlan::buildExchange() {
  auto *key = static_cast<QAbstractButton *>(Button1), *ids = static_cast<QAbstractButton *>(Button3);
  TExchangePanel::Controls c{ComboBox1, Label39, Label40, Label41, N5->menuAction(), key, ids, Edit12, {}};
  c.ids = sensorIdEdits;   // Edit13..Edit20
  c.statusLine = StatusBar1;
  Exchange = new TExchangePanel(this, link_, [this] { return progress(); }, c);
  connect(Exchange, &TExchangePanel::imageRead, this, [this](const ConfigImageBytes &image) {
    IncomingImage = image;
    Load();
  });
  // Every pick, even of the item already shown, and every typed or deleted character.
#ifdef QUORLAN_WITH_JOURNAL
  // One warning a session, on the status line: the exchange goes on without the journal.
  Journal = new TExchangeJournal(link_, [this](const QString &text) { StatusBar1->showMessage(text); }, this);
  mmJournal = formkit::menuItem(N5, "mmJournal", QStringLiteral("Журнал обменов…"), this, &TQuorlan::JournalClick);
#endif
  connect(ComboBox1, &QComboBox::activated, this, &TQuorlan::ComboBox1Change);
  connect(ComboBox1->lineEdit(), &QLineEdit::textEdited, this, &TQuorlan::ComboBox1Change);
  connect(key, &QAbstractButton::clicked, this, &TQuorlan::Button1Click);
  connect(ids, &QAbstractButton::clicked, this, &TQuorlan::Button3Click);
}

void TQuorlan::ComboBox1Change() { Exchange->pick(); }
void TQuorlan::FormClose() { Exchange->goodbye(); }

void TQuorlan::N6Click() {
  if (!mass_out()) return;   // a refused threshold: nothing is sent
#ifdef QUORLAN_WITH_JOURNAL
  Journal->beginWrite(OutgoingImage, OutgoingImage == LastFileImage ? LastFile : QString());
  Exchange->write(OutgoingImage);
  Journal->commandSent();
#else
  Exchange->write(OutgoingImage);
#endif
}
void TQuorlan::N7Click() {
#ifdef QUORLAN_WITH_JOURNAL
  Journal->beginRead();
  Exchange->read();
  Journal->commandSent();
#else
  Exchange->read();
#endif
}

void TQuorlan::JournalClick() {
#ifdef QUORLAN_WITH_JOURNAL
  auto *window = new TJournalWindow(this);
  connect(window, &TJournalWindow::openRequested, this,
          [this](const ConfigImageBytes &image) { TEditorFiles(this, progress()).openImage(image); });
  window->show();
#endif
}
void TQuorlan::N8Click() { Exchange->setClock(); }
void TQuorlan::N9Click() { emit stateWindowRequested(); }
void TQuorlan::Button1Click() { Exchange->readKey(); }
void TQuorlan::Button3Click() { Exchange->readIds(); }
