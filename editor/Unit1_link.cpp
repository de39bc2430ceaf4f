// Main window: the port picker, the exchange menu and the two read buttons hand over to the
// exchange panel; the protocol itself is the link's.
#include <QAbstractButton>
#include <QMenu>

#include "editor/ExchangePanel.h"
#include "editor/Unit1.h"
#include "link/Link.h"

int TQuorlan::PortOpen() const { return link_->portOpen() ? 1 : 0; }
::LinkMode TQuorlan::LinkMode() const { return link_->mode(); }

void TQuorlan::portScan() {
  if (!Exchange) {
    TExchangePanel::Controls c{ComboBox1, Label39, Label40, Label41, N5->menuAction(),
                               static_cast<QAbstractButton *>(Button1), static_cast<QAbstractButton *>(Button3),
                               Edit12, {}};
    for (int n = 1; n <= 8; ++n) c.ids[std::size_t(n - 1)] = Edit(12 + n);
    c.statusLine = StatusBar1;
    Exchange = new TExchangePanel(this, link_, progress_, c);
    connect(Exchange, &TExchangePanel::imageRead, this, [this](const ConfigImageBytes &image) {
      IncomingImage = image;
      Load();
    });
    connect(static_cast<QAbstractButton *>(Button1), &QAbstractButton::clicked, this, &TQuorlan::Button1Click);
    connect(static_cast<QAbstractButton *>(Button3), &QAbstractButton::clicked, this, &TQuorlan::Button3Click);
  }
  Exchange->scan();
}

void TQuorlan::ComboBox1Change() { Exchange->pick(); }
void TQuorlan::FormClose() { Exchange->goodbye(); }

void TQuorlan::ApdDataPacket1StringPacket(const QByteArray &data) { link_->ApdDataPacket1StringPacket(data); }
void TQuorlan::ApdDataPacket2Packet(const std::uint8_t *data, int size) { link_->ApdDataPacket2Packet(data, size); }
void TQuorlan::Timer2Timer() { link_->Timer2Timer(); }
void TQuorlan::Timer3Timer() { link_->Timer3Timer(); }

// ---- the exchange menu and buttons ----

void TQuorlan::N6Click() {
  if (mass_out()) Exchange->write(OutgoingImage);   // a refused threshold: nothing is sent
}
void TQuorlan::N7Click() { Exchange->read(); }
void TQuorlan::N8Click() { Exchange->setClock(); }
void TQuorlan::N9Click() { emit stateWindowRequested(); }
void TQuorlan::Button1Click() { Exchange->readKey(); }
void TQuorlan::Button3Click() { Exchange->readIds(); }
