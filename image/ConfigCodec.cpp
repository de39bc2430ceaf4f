#include "image/ConfigCodec.h"

#include <algorithm>

#include "image/Checksum.h"
#include "image/ConfigLayout.h"
#include "image/Cp1251.h"
#include "image/ImageNumbers.h"
#include "image/ImageText.h"
#include "image/ReactionTrees.h"
#include "image/ThresholdText.h"

// ---- ConfigValue ----

QString ConfigValue::caption(int tree, int index) const {
  if (tree < 1 || tree > 3 || index < 0 || index >= int(captions[tree].size())) return {};
  return captions[tree][std::size_t(index)];
}

void ConfigValue::setCaption(int tree, int index, const QString &text) {
  if (tree < 1 || tree > 3 || index < 0 || index >= int(captions[tree].size())) return;
  captions[tree][std::size_t(index)] = text;
}

ConfigValue ConfigValue::startup() {
  ConfigValue v;
  for (const auto &f : controls::spinFields()) v.spins[f.number] = f.start;
  for (const auto &f : controls::textFields()) v.texts[f.number] = QString::fromUtf8(f.start);
  for (int t = 1; t <= trees::kTreeCount; ++t)
    for (const auto &node : trees::startupNodes(t)) v.captions[t].push_back(node.caption);
  v.smsCentre = QStringLiteral("+79168999100");
  return v;
}

QString ThresholdError::message() const {
  return QStringLiteral("Неверное значение порога: АЦП %1, %2 порог \"%3\"")
      .arg(input)
      .arg(lower ? QStringLiteral("нижний") : QStringLiteral("верхний"), text);
}

namespace {

struct NoProgress final : ImageProgress {
  void setText(const QString &) override {}
  void setPosition(int) override {}
  void stepBy(int) override {}
};

// Every block of a tree in order: `each(block number, absolute index of its root)`.
template <typename F>
void forEachBlock(int tree, F &&each) {
  const int blocks = trees::blockCount(tree);
  const int size = trees::blockSize(tree);
  for (int k = 0; k < blocks; ++k) each(k, size * k);
}

int recordOffset(int tree, int block, int event) {
  switch (tree) {
    case 1: return layout::contactRecord(block, event);
    case 2: return layout::analogRecord(block, event);
    default: return layout::sensorRecord(block, event);
  }
}

// Every event of the block at `root`: `each(absolute node indices of its reactions, offset of
// its record in the image)`.
template <typename F>
void forEachEvent(int tree, int root, F &&each) {
  const int block = root / trees::blockSize(tree);
  const int events = tree == 1 ? layout::kContactEvents : layout::kChannelEvents;
  for (int e = 0; e < events; ++e) {
    const trees::EventNodes &ev = tree == 1 ? trees::kContactEvents[std::size_t(e)]
                                            : trees::kChannelEvents[std::size_t(e)];
    each(trees::EventNodes{root + ev.relays, root + ev.phoneSlots, root + ev.message},
         recordOffset(tree, block, e));
  }
}

class Encoder {
public:
  Encoder(const ConfigValue &v, ConfigImageBytes &image) : v_(v), image_(image) {}

  void reactions(int tree, int root) {
    forEachEvent(tree, root, [&](const trees::EventNodes &ev, int record) {
      for (int r = 0; r < layout::kRelayCount; ++r) {
        std::uint8_t code = layout::kRelayNone;
        switch (trees::relayState(v_.caption(tree, ev.relays + r))) {
          case trees::RelayState::On: code = layout::kRelayOn; break;
          case trees::RelayState::Off: code = layout::kRelayOff; break;
          case trees::RelayState::Unchanged: code = layout::kRelayUnchanged; break;
          case trees::RelayState::Unknown: break;
        }
        image_[record + layout::kRecordRelays + r] = code;
      }
      for (int s = 0; s < layout::kSlotCount; ++s) {
        const int target = trees::slotTarget(v_.caption(tree, ev.phoneSlots + s));
        image_[record + layout::kRecordSlots + s] =
            target >= 1 && target <= 9 ? std::uint8_t(layout::kSlotFirstSubscriber + target - 1)
                                       : layout::kSlotEmpty;
      }
      writeText(image_, record + layout::kRecordMessage, layout::kMessageWidth,
                v_.caption(tree, ev.message));
    });
  }

  void spin(int number) {
    const controls::SpinField *f = controls::spinField(number);
    Q_ASSERT(f);
    const int value = v_.spins[number];
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
    const QString &t = v_.texts[number];
    if (f->exactOnly && toCp1251(t).size() != f->width) return;  // incomplete identifier
    writeText(image_, f->offset, f->width, t);
  }
  void texts(int first, int last) {
    for (int n = first; n <= last; ++n) text(n);
  }

  void checks(int first, int last) {
    for (const auto &f : controls::checkFields()) {
      if (f.number < first || f.number > last) continue;
      const bool on = v_.checks[f.number];
      if (f.bit < 0)
        image_[f.offset] = on ? 1 : 0;
      else if (on)
        image_[f.offset] |= std::uint8_t(1u << f.bit);
    }
  }

private:
  const ConfigValue &v_;
  ConfigImageBytes &image_;
};

class Decoder {
public:
  Decoder(const ConfigImageBytes &image, ConfigValue &v) : image_(image), v_(v) {}

  void reactions(int tree, int root) {
    forEachEvent(tree, root, [&](const trees::EventNodes &ev, int record) {
      for (int r = 0; r < layout::kRelayCount; ++r) {
        trees::RelayState state = trees::RelayState::Unknown;
        switch (image_[record + layout::kRecordRelays + r]) {
          case layout::kRelayOn: state = trees::RelayState::On; break;
          case layout::kRelayOff: state = trees::RelayState::Off; break;
          case layout::kRelayUnchanged: state = trees::RelayState::Unchanged; break;
          default: continue;  // an unknown code leaves the caption as it is
        }
        const int index = ev.relays + r;
        v_.setCaption(tree, index, trees::withRelayState(v_.caption(tree, index), state));
      }
      for (int s = 0; s < layout::kSlotCount; ++s) {
        const std::uint8_t code = image_[record + layout::kRecordSlots + s];
        QString text = trees::emptySlotCaption(s + 1);
        if (code >= layout::kSlotFirstSubscriber && code < layout::kSlotDispatcher) {
          const int n = code - layout::kSlotFirstSubscriber + 1;
          text = trees::subscriberSlotCaption(v_.texts[2 + n], n);
        } else if (code == layout::kSlotDispatcher) {
          text = trees::dispatcherSlotCaption(v_.texts[11]);
        }
        v_.setCaption(tree, ev.phoneSlots + s, text);
      }
      v_.setCaption(tree, ev.message,
                    readNonZero(imageField(image_, record + layout::kRecordMessage,
                                           layout::kMessageWidth)));
    });
  }

  // Thresholds keep their caption's first six characters ("Порог ") and take the stored value.
  void threshold(int tree, int index, const QString &value) {
    v_.setCaption(tree, index, v_.caption(tree, index).left(6) + value);
  }

  void edit(int number) {
    const controls::TextField *f = controls::textField(number);
    Q_ASSERT(f);
    const ImageField field = imageField(image_, f->offset, f->width);
    switch (f->rule) {
      case controls::TextRule::UpToZero: v_.texts[number] = readUpToZero(field); break;
      case controls::TextRule::AllOrNothing: v_.texts[number] = readAllOrNothing(field); break;
      case controls::TextRule::NonZero: v_.texts[number] = readNonZero(field); break;
    }
  }
  void edits(int first, int last) {
    for (int n = first; n <= last; ++n) edit(n);
  }

  // The control clamps a value outside its range to the nearer end.
  void spin(int number) {
    const controls::SpinField *f = controls::spinField(number);
    Q_ASSERT(f);
    const int raw = f->bytes == 2 ? int(readInt16BE(image_, f->offset)) : int(image_[f->offset]);
    v_.spins[number] = std::clamp(raw, f->min, f->max);
  }
  void spins(int first, int last) {
    for (int n = first; n <= last; ++n) spin(n);
  }

  void checks(int first, int last) {
    for (const auto &f : controls::checkFields()) {
      if (f.number < first || f.number > last) continue;
      const std::uint8_t byte = image_[f.offset];
      v_.checks[f.number] = f.bit < 0 ? byte == 1 : (byte >> f.bit & 1) != 0;
    }
  }

private:
  const ConfigImageBytes &image_;
  ConfigValue &v_;
};

}  // namespace

std::optional<ThresholdError> encodeImage(const ConfigValue &value, ConfigImageBytes &out,
                                          ImageProgress *progress) {
  NoProgress none;
  ImageProgress &p = progress ? *progress : none;
  // Built aside and copied out only when complete, so a refused threshold leaves the previous
  // image whole for nobody to send by mistake.
  ConfigImageBytes image{};
  Encoder enc(value, image);

  forEachBlock(1, [&](int, int root) {
    p.stepBy(3);
    enc.reactions(1, root);
  });
  p.setText(kBuildingText);
  forEachBlock(2, [&](int, int root) {
    p.stepBy(3);
    enc.reactions(2, root);
  });
  forEachBlock(3, [&](int, int root) {
    p.setText(kBuildingText);
    p.stepBy(3);
    enc.reactions(3, root);
  });
  forEachBlock(3, [&](int k, int root) {
    p.stepBy(2);
    writeText(image, layout::sensorUpperThreshold(k), layout::kSensorThresholdWidth,
              trees::thresholdValue(value.caption(3, root + trees::kUpperThreshold)));
    writeText(image, layout::sensorLowerThreshold(k), layout::kSensorThresholdWidth,
              trees::thresholdValue(value.caption(3, root + trees::kLowerThreshold)));
  });
  for (int k = 0; k < trees::kChannelBlocks; ++k) {
    for (const bool lower : {false, true}) {
      const int root = trees::kChannelBlock * k;
      const QString text = trees::thresholdValue(
          value.caption(2, root + (lower ? trees::kLowerThreshold : trees::kUpperThreshold)));
      const std::optional<float> number = parseThreshold(text);
      if (!number) return ThresholdError{k + 1, lower, text};
      writeFloatLE(image, lower ? layout::analogLowerThreshold(k) : layout::analogUpperThreshold(k),
                   *number);
    }
  }

  for (const controls::ImageStep &step : controls::imageSteps()) {
    switch (step.step) {
      case controls::Step::Spins: enc.spins(step.first, step.last); break;
      case controls::Step::Texts: enc.texts(step.first, step.last); break;
      case controls::Step::Checks: enc.checks(step.first, step.last); break;
      case controls::Step::ModeRights: {
        std::uint8_t rights = 0;
        if (value.modeByKey == 0) rights |= layout::kModeChangeByKey;
        if (value.modeBySms == 0) rights |= layout::kModeChangeBySms;
        image[layout::kModeChangeRights] = rights;
        break;
      }
      case controls::Step::SmsCentre:
        // The box takes any length; only the field's 16 characters are stored, CsdEnabled
        // after it stays untouched.
        writeText(image, layout::kSmsCentre, layout::kSmsCentreWidth, value.smsCentre);
        break;
      case controls::Step::Progress: p.setPosition(step.first); break;
    }
  }

  storeChecksum(image);
  out = image;
  return std::nullopt;
}

bool decodeImage(const ConfigImageBytes &image, ConfigValue &value, ImageProgress *progress) {
  if (!checksumMatches(image)) return false;
  NoProgress none;
  ImageProgress &p = progress ? *progress : none;
  Decoder dec(image, value);

  // Numbers first: the slot captions below copy them.
  dec.edits(3, 11);
  value.smsCentre = readUpToZero(imageField(image, layout::kSmsCentre, layout::kSmsCentreWidth));

  for (int tree = 1; tree <= trees::kTreeCount; ++tree) {
    forEachBlock(tree, [&](int, int root) {
      p.stepBy(3);
      dec.reactions(tree, root);
    });
  }
  forEachBlock(3, [&](int k, int root) {
    dec.threshold(3, root + trees::kUpperThreshold,
                  readNonZero(imageField(image, layout::sensorUpperThreshold(k),
                                         layout::kSensorThresholdWidth)));
    dec.threshold(3, root + trees::kLowerThreshold,
                  readNonZero(imageField(image, layout::sensorLowerThreshold(k),
                                         layout::kSensorThresholdWidth)));
  });
  forEachBlock(2, [&](int k, int root) {
    p.stepBy(2);
    // The text reads back as the stored value, so saving again keeps it exactly.
    dec.threshold(2, root + trees::kUpperThreshold,
                  thresholdText(readFloatLE(image, layout::analogUpperThreshold(k))));
    dec.threshold(2, root + trees::kLowerThreshold,
                  thresholdText(readFloatLE(image, layout::analogLowerThreshold(k))));
  });

  for (const controls::ImageStep &step : controls::imageSteps()) {
    switch (step.step) {
      case controls::Step::Spins: dec.spins(step.first, step.last); break;
      case controls::Step::Texts: dec.edits(step.first, step.last); break;
      case controls::Step::Checks: dec.checks(step.first, step.last); break;
      case controls::Step::ModeRights:
        switch (image[layout::kModeChangeRights]) {
          case 0: value.modeByKey = 1; value.modeBySms = 1; break;
          case 1: value.modeByKey = 0; value.modeBySms = 1; break;
          case 2: value.modeByKey = 1; value.modeBySms = 0; break;
          case 3: value.modeByKey = 0; value.modeBySms = 0; break;
          default: break;  // not a combination the editor offers: keep the current choice
        }
        break;
      case controls::Step::SmsCentre: break;  // read with the numbers, before the captions
      case controls::Step::Progress: p.setPosition(step.first); break;
    }
  }
  return true;
}
