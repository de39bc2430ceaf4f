// The decoder: IncomingImage back into the editor's controls and reaction-tree captions.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTreeWidgetItem>

#include "app/Unit5.h"
#include "editor/ControlTable.h"
#include "editor/EditorWidgets.h"
#include "editor/MessageBoxes.h"
#include "editor/ReactionTrees.h"
#include "editor/Unit1.h"
#include "image/Checksum.h"
#include "image/ConfigLayout.h"
#include "image/ImageNumbers.h"
#include "image/ImageText.h"
#include "image/ReactionNodes.h"
#include "image/ThresholdText.h"

namespace {

class Decoder {
public:
  Decoder(TQuorlan &w, const ConfigImageBytes &image) : w_(w), image_(image) {}

  QTreeWidgetItem *node(int tree, int index) const { return w_.treeNode(tree, index); }

  void setCaption(int tree, int index, const QString &caption) {
    if (QTreeWidgetItem *item = node(tree, index)) item->setText(0, caption);
  }
  QString caption(int tree, int index) const {
    const QTreeWidgetItem *item = node(tree, index);
    return item ? item->text(0) : QString();
  }

  void reactions(int tree, int block, const nodes::EventNodes &ev, int record) {
    for (int r = 0; r < layout::kRelayCount; ++r) {
      trees::RelayState state = trees::RelayState::Unknown;
      switch (image_[record + layout::kRecordRelays + r]) {
        case layout::kRelayOn: state = trees::RelayState::On; break;
        case layout::kRelayOff: state = trees::RelayState::Off; break;
        case layout::kRelayUnchanged: state = trees::RelayState::Unchanged; break;
        default: continue;  // an unknown code leaves the caption as it is
      }
      const int index = block + ev.relays + r;
      setCaption(tree, index, trees::withRelayState(caption(tree, index), state));
    }
    for (int s = 0; s < layout::kSlotCount; ++s) {
      const std::uint8_t code = image_[record + layout::kRecordSlots + s];
      QString text = trees::emptySlotCaption(s + 1);
      if (code >= layout::kSlotFirstSubscriber && code < layout::kSlotDispatcher) {
        const int n = code - layout::kSlotFirstSubscriber + 1;
        text = trees::subscriberSlotCaption(w_.Edit(2 + n)->text(), n);
      } else if (code == layout::kSlotDispatcher) {
        text = trees::dispatcherSlotCaption(w_.Edit(11)->text());
      }
      setCaption(tree, block + ev.phoneSlots + s, text);
    }
    setCaption(tree, block + ev.message,
               readNonZero(imageField(image_, record + layout::kRecordMessage, layout::kMessageWidth)));
  }

  QString text(const controls::TextField &f) const {
    const ImageField field = imageField(image_, f.offset, f.width);
    switch (f.rule) {
      case controls::TextRule::UpToZero: return readUpToZero(field);
      case controls::TextRule::AllOrNothing: return readAllOrNothing(field);
      case controls::TextRule::NonZero: return readNonZero(field);
    }
    return {};
  }
  void edit(int number) {
    const controls::TextField *f = controls::textField(number);
    Q_ASSERT(f);
    w_.Edit(number)->setText(text(*f));
  }
  void edits(int first, int last) {
    for (int n = first; n <= last; ++n) edit(n);
  }

  // The control clamps a value outside its range to the nearer end.
  void spin(int number) {
    const controls::SpinField *f = controls::spinField(number);
    Q_ASSERT(f);
    w_.SpinEdit(number)->setValue(f->bytes == 2 ? int(readInt16BE(image_, f->offset))
                                                : int(image_[f->offset]));
  }
  void spins(int first, int last) {
    for (int n = first; n <= last; ++n) spin(n);
  }

  void checks(int first, int last) {
    for (const auto &f : controls::checkFields()) {
      if (f.number < first || f.number > last) continue;
      const std::uint8_t byte = image_[f.offset];
      w_.CheckBox(f.number)->setChecked(f.bit < 0 ? byte == 1 : (byte >> f.bit & 1) != 0);
    }
  }

private:
  TQuorlan &w_;
  const ConfigImageBytes &image_;
};

}  // namespace

bool TQuorlan::Load() {
  if (!checksumMatches(IncomingImage)) {
    errorBox(this, QStringLiteral("Ошибка целостности данных"));
    return false;
  }
  const ConfigImageBytes &image = IncomingImage;
  Decoder dec(*this, image);

  // Numbers first: the slot captions below copy them.
  dec.edits(3, 11);
  ComboBox2->setEditText(readUpToZero(imageField(image, layout::kSmsCentre, layout::kSmsCentreWidth)));

  Progress->setText(QStringLiteral("Применение данных"));
  if (!Progress->isShown()) {
    Progress->setPosition(5);
    Progress->showWindow();
    Progress->repaintNow();
  }

  for (int k = 0; k < layout::kContactBlocks; ++k) {
    Progress->stepBy(3);
    Progress->repaintNow();
    for (int e = 0; e < layout::kContactEvents; ++e)
      dec.reactions(nodes::kContactTree, nodes::kContactBlock * k, nodes::kContactEvents[e],
                    layout::contactRecord(k, e));
  }
  for (int k = 0; k < layout::kChannelBlocks; ++k) {
    Progress->stepBy(3);
    Progress->repaintNow();
    for (int e = 0; e < layout::kChannelEvents; ++e)
      dec.reactions(nodes::kAnalogTree, nodes::kChannelBlock * k, nodes::kChannelEvents[e],
                    layout::analogRecord(k, e));
  }
  for (int k = 0; k < layout::kChannelBlocks; ++k) {
    Progress->stepBy(3);
    Progress->repaintNow();
    for (int e = 0; e < layout::kChannelEvents; ++e)
      dec.reactions(nodes::kSensorTree, nodes::kChannelBlock * k, nodes::kChannelEvents[e],
                    layout::sensorRecord(k, e));
  }

  const auto prefixed = [&](int tree, int index, const QString &value) {
    dec.setCaption(tree, index, dec.caption(tree, index).left(6) + value);
  };
  for (int k = 0; k < layout::kChannelBlocks; ++k) {
    const int block = nodes::kChannelBlock * k;
    prefixed(nodes::kSensorTree, block + nodes::kUpperThreshold,
             readNonZero(imageField(image, layout::sensorUpperThreshold(k), layout::kSensorThresholdWidth)));
    prefixed(nodes::kSensorTree, block + nodes::kLowerThreshold,
             readNonZero(imageField(image, layout::sensorLowerThreshold(k), layout::kSensorThresholdWidth)));
  }
  for (int k = 0; k < layout::kChannelBlocks; ++k) {
    Progress->stepBy(2);
    Progress->repaintNow();
    const int block = nodes::kChannelBlock * k;
    // The text reads back as the stored value, so saving again keeps it exactly.
    prefixed(nodes::kAnalogTree, block + nodes::kUpperThreshold,
             thresholdText(readFloatLE(image, layout::analogUpperThreshold(k))));
    prefixed(nodes::kAnalogTree, block + nodes::kLowerThreshold,
             thresholdText(readFloatLE(image, layout::analogLowerThreshold(k))));
  }

  Progress->setPosition(85);
  Progress->repaintNow();
  dec.edit(2);        // Password
  dec.edit(1);        // ObjectId
  Progress->setPosition(90);
  Progress->repaintNow();
  dec.edits(13, 20);  // SensorIds
  Progress->setPosition(95);
  Progress->repaintNow();

  dec.spins(3, 10);   // RelayOnTimes
  dec.spin(11);       // ArchivePeriod
  dec.edit(12);       // MasterKey
  dec.checks(9, 24);  // DisarmContacts, DisarmAnalogs
  dec.spin(1);        // SendAttempts

  switch (image[layout::kModeChangeRights]) {
    case 0: RadioGroup1->setItemIndex(1); RadioGroup2->setItemIndex(1); break;
    case 1: RadioGroup1->setItemIndex(0); RadioGroup2->setItemIndex(1); break;
    case 2: RadioGroup1->setItemIndex(1); RadioGroup2->setItemIndex(0); break;
    case 3: RadioGroup1->setItemIndex(0); RadioGroup2->setItemIndex(0); break;
    default: break;  // not a combination the editor offers: keep the current choice
  }

  dec.checks(4, 7);   // StatusSchedule
  dec.checks(1, 3);   // StatusContent
  dec.spins(35, 42);  // ContactReactionDelays
  dec.spins(43, 50);  // AnalogReactionDelays
  dec.spin(2);        // ArmingDelay
  dec.spins(51, 58);  // ContactInsensitivity
  dec.spins(59, 66);  // AnalogInsensitivity
  dec.checks(8, 8);   // CsdEnabled: checked only for exactly 1

  for (int i = 0; i < 8; ++i) {
    dec.spin(12 + i);               // SignalMin
    dec.spin(20 + i);               // SignalMax
    dec.spin(i < 7 ? 28 + i : 67);  // RangeMin
    dec.spin(68 + i);               // RangeMax
    dec.edit(21 + i);               // Units
  }
  dec.spins(76, 83);  // ContactPresenceTimes

  Progress->setPosition(100);
  Progress->showWindow();
  Progress->closeWindow();
  setEnabled(true);
  show();
  repaint();
  return true;
}
