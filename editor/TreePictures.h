#pragma once
// The trees' image list: 15 pictures of 16 x 16 pixels drawn at run time, so the program ships
// no image files. Indices are fixed (see trees::Picture); 0, 6 and 7 are not used by the trees.

#include <QIcon>
#include <QImage>
#include <vector>

namespace trees {

inline constexpr int kPictureSize = 16;
inline constexpr int kPictureRole = Qt::UserRole + 1;  // item data: picture index or -1

// Drawn once on first use; needs a QGuiApplication.
const std::vector<QImage> &pictureImages();
// The same pictures as icons; a null icon for an index outside the list.
QIcon pictureIcon(int index);

}  // namespace trees
