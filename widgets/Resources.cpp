#include "widgets/Resources.h"

#include <QtGlobal>

static void initQuorlanResources() { Q_INIT_RESOURCE(resources); }

void ensureResources() {
  static const bool done = (initQuorlanResources(), true);
  (void)done;
}
