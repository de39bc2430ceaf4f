// The encoder: the editor's controls and reaction-tree captions into OutgoingImage.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTreeWidgetItem>
#include <optional>

#include "app/Unit5.h"
#include "editor/ControlTable.h"
#include "editor/EditorWidgets.h"
#include "editor/MessageBoxes.h"
#include "editor/ReactionTrees.h"
#include "editor/Unit1.h"
#include "image/Checksum.h"
#include "image/ConfigLayout.h"
#include "image/Cp1251.h"
#include "image/ImageNumbers.h"
#include "image/ImageText.h"
#include "image/ReactionNodes.h"
#include "image/ThresholdText.h"

namespace {

const QString kBuilding = QStringLiteral("Рассчет массива");

class Encoder {
public:
  Encoder(const TQuorlan &w, ConfigImageBytes &image) : w_(w), image_(image) {}

  QString caption(int tree, int index) const {
    const QTreeWidgetItem *item = w_.treeNode(tree, index);
    return item ? item->text(0) : QString();
  }

  // One event's relays, slots and message into the record at `record`.
  void reactions(int tree, int block, const nodes::EventNodes &ev, int record) {
    for (int r = 0; r < layout::kRelayCount; ++r) {
      std::uint8_t code = layout::kRelayNone;
      switch (trees::relayState(caption(tree, block + ev.relays + r))) {
        case trees::RelayState::On: code = layout::kRelayOn; break;
        case trees::RelayState::Off: code = layout::kRelayOff; break;
        case trees::RelayState::Unchanged: code = layout::kRelayUnchanged; break;
        case trees::RelayState::Unknown: break;
      }
      image_[record + layout::kRecordRelays + r] = code;
    }
    for (int s = 0; s < layout::kSlotCount; ++s) {
      const int target = trees::slotTarget(caption(tree, block + ev.phoneSlots + s));
      image_[record + layout::kRecordSlots + s] =
          target >= 1 && target <= 9 ? std::uint8_t(layout::kSlotFirstSubscriber + target - 1)
                                     : layout::kSlotEmpty;
    }
    writeText(image_, record + layout::kRecordMessage, layout::kMessageWidth,
              caption(tree, block + ev.message));
  }

  void spin(int number) {
    const controls::SpinField *f = controls::spinField(number);
    Q_ASSERT(f);
    const int value = w_.SpinEdit(number)->value();
    if (f->bytes == 2)
      writeInt16BE(image_, f->offset, value);
    else
      image_[f->offset] = std::uint8_t(value);  // the low 8 bits
  }
  void spins(int first, int last) {
    for (int n = first; n <= last; ++n) spin(n);
  }

  void text(int number) {
    const controls::TextField *f = controls::textField(number);
    Q_ASSERT(f);
    const QString t = w_.Edit(number)->text();
    if (f->exactOnly && toCp1251(t).size() != f->width) return;  // incomplete identifier
    writeText(image_, f->offset, f->width, t);
  }
  void texts(int first, int last) {
    for (int n = first; n <= last; ++n) text(n);
  }

  void checks(int first, int last) {
    for (const auto &f : controls::checkFields()) {
      if (f.number < first || f.number > last) continue;
      const bool on = w_.CheckBox(f.number)->isChecked();
      if (f.bit < 0)
        image_[f.offset] = on ? 1 : 0;
      else if (on)
        image_[f.offset] |= std::uint8_t(1u << f.bit);
    }
  }

private:
  const TQuorlan &w_;
  ConfigImageBytes &image_;
};

}  // namespace

bool TQuorlan::mass_out() {
  setEnabled(false);
  Progress->setText(kBuilding);
  Progress->setPosition(0);
  // Built aside and copied in only when complete, so a refused threshold leaves the previous
  // image whole for nobody to send by mistake.
  ConfigImageBytes image{};
  Progress->showWindow();
  Encoder enc(*this, image);

  for (int k = 0; k < layout::kContactBlocks; ++k) {
    Progress->stepBy(3);
    Progress->repaintNow();
    for (int e = 0; e < layout::kContactEvents; ++e)
      enc.reactions(nodes::kContactTree, nodes::kContactBlock * k, nodes::kContactEvents[e],
                    layout::contactRecord(k, e));
  }
  Progress->setText(kBuilding);
  for (int k = 0; k < layout::kChannelBlocks; ++k) {
    Progress->stepBy(3);
    Progress->repaintNow();
    for (int e = 0; e < layout::kChannelEvents; ++e)
      enc.reactions(nodes::kAnalogTree, nodes::kChannelBlock * k, nodes::kChannelEvents[e],
                    layout::analogRecord(k, e));
  }
  for (int k = 0; k < layout::kChannelBlocks; ++k) {
    Progress->setText(kBuilding);
    Progress->stepBy(3);
    for (int e = 0; e < layout::kChannelEvents; ++e)
      enc.reactions(nodes::kSensorTree, nodes::kChannelBlock * k, nodes::kChannelEvents[e],
                    layout::sensorRecord(k, e));
  }
  for (int k = 0; k < layout::kChannelBlocks; ++k) {
    Progress->stepBy(2);
    Progress->repaintNow();
    const int block = nodes::kChannelBlock * k;
    writeText(image, layout::sensorUpperThreshold(k), layout::kSensorThresholdWidth,
              trees::thresholdValue(enc.caption(nodes::kSensorTree, block + nodes::kUpperThreshold)));
    writeText(image, layout::sensorLowerThreshold(k), layout::kSensorThresholdWidth,
              trees::thresholdValue(enc.caption(nodes::kSensorTree, block + nodes::kLowerThreshold)));
  }
  for (int k = 0; k < layout::kChannelBlocks; ++k) {
    for (int lower = 0; lower < 2; ++lower) {
      const int block = nodes::kChannelBlock * k;
      const QString value = trees::thresholdValue(
          enc.caption(nodes::kAnalogTree, block + (lower ? nodes::kLowerThreshold : nodes::kUpperThreshold)));
      const std::optional<float> number = parseThreshold(value);
      if (!number) {
        // Nothing is kept or sent; the operator gets the editor back to correct the value.
        Progress->closeWindow();
        setEnabled(true);
        errorBox(this, QStringLiteral("Неверное значение порога: АЦП %1, %2 порог \"%3\"")
                           .arg(k + 1)
                           .arg(lower ? QStringLiteral("нижний") : QStringLiteral("верхний"), value));
        return false;
      }
      writeFloatLE(image, lower ? layout::analogLowerThreshold(k) : layout::analogUpperThreshold(k),
                   *number);
    }
  }

  enc.text(2);           // Password
  enc.texts(13, 20);     // SensorIds, only complete ones
  Progress->setPosition(85);
  Progress->repaintNow();

  enc.spins(3, 10);      // RelayOnTimes
  enc.spin(11);          // ArchivePeriod
  enc.text(12);          // MasterKey
  enc.checks(9, 24);     // DisarmContacts, DisarmAnalogs
  Progress->setPosition(90);
  Progress->repaintNow();

  enc.spin(1);           // SendAttempts
  std::uint8_t rights = 0;
  if (RadioGroup1->itemIndex() == 0) rights |= layout::kModeChangeByKey;
  if (RadioGroup2->itemIndex() == 0) rights |= layout::kModeChangeBySms;
  image[layout::kModeChangeRights] = rights;
  enc.checks(4, 7);      // StatusSchedule
  enc.checks(1, 3);      // StatusContent
  enc.spins(35, 42);     // ContactReactionDelays
  enc.spins(43, 50);     // AnalogReactionDelays
  Progress->setPosition(95);
  Progress->repaintNow();

  enc.spin(2);           // ArmingDelay
  enc.spins(51, 58);     // ContactInsensitivity
  enc.spins(59, 66);     // AnalogInsensitivity
  enc.text(1);           // ObjectId
  enc.texts(3, 11);      // Phones
  // The box takes any length; only the field's 16 characters are stored, CsdEnabled after it
  // stays untouched.
  writeText(image, layout::kSmsCentre, layout::kSmsCentreWidth, ComboBox2->currentText());
  enc.checks(8, 8);      // CsdEnabled
  for (int i = 0; i < 8; ++i) {
    enc.spin(12 + i);                 // SignalMin
    enc.spin(20 + i);                 // SignalMax
    enc.spin(i < 7 ? 28 + i : 67);    // RangeMin
    enc.spin(68 + i);                 // RangeMax
    enc.text(21 + i);                 // Units
  }
  enc.spins(76, 83);     // ContactPresenceTimes

  storeChecksum(image);
  OutgoingImage = image;
  return true;
}
