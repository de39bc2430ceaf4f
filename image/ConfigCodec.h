#pragma once
// The encoder and decoder between a configuration value and its image. No windows: the progress
// points are reported to an ImageProgress; whoever shows them decides when to paint.

#include <QString>
#include <optional>

#include "image/ConfigImageTypes.h"
#include "image/ConfigValue.h"

class ImageProgress {
public:
  virtual ~ImageProgress() = default;
  virtual void setText(const QString &text) = 0;
  virtual void setPosition(int position) = 0;
  virtual void stepBy(int delta) = 0;
};

inline const QString kBuildingText = QStringLiteral("Рассчет массива");
inline const QString kApplyingText = QStringLiteral("Применение данных");

// An analog threshold whose text is not a number: nothing can be stored for it.
struct ThresholdError {
  int input;      // 1..8
  bool lower;
  QString text;
  QString message() const;   // the operator's message
};

// Builds the image of `value`, checksum last. On a refused threshold `image` is untouched.
std::optional<ThresholdError> encodeImage(const ConfigValue &value, ConfigImageBytes &image,
                                          ImageProgress *progress = nullptr);

// Applies `image` to `value`: settings, texts and captions (relay captions keep their place
// number, slot captions copy the decoded telephone numbers). False, and `value` untouched, when
// the checksum does not match.
bool decodeImage(const ConfigImageBytes &image, ConfigValue &value,
                 ImageProgress *progress = nullptr);
