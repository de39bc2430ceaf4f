// Main window: the port picker, the exchange menu and the two read buttons hand over to the
// exchange panel; the protocol itself is the link's.
#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>

#include "editor/ExchangePanel.h"
#include "editor/Unit1.h"
#include "link/Link.h"

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
  connect(ComboBox1, &QComboBox::activated, this, &TQuorlan::ComboBox1Change);
  connect(ComboBox1->lineEdit(), &QLineEdit::textEdited, this, &TQuorlan::ComboBox1Change);
  connect(key, &QAbstractButton::clicked, this, &TQuorlan::Button1Click);
  connect(ids, &QAbstractButton::clicked, this, &TQuorlan::Button3Click);
}

void TQuorlan::ComboBox1Change() { Exchange->pick(); }
void TQuorlan::FormClose() { Exchange->goodbye(); }

void TQuorlan::N6Click() {
  if (mass_out()) Exchange->write(OutgoingImage);   // a refused threshold: nothing is sent
}
void TQuorlan::N7Click() { Exchange->read(); }
void TQuorlan::N8Click() { Exchange->setClock(); }
void TQuorlan::N9Click() { emit stateWindowRequested(); }
void TQuorlan::Button1Click() { Exchange->readKey(); }
void TQuorlan::Button3Click() { Exchange->readIds(); }
