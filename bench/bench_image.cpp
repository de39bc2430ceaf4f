// Encode and decode time of one configuration image on a real main window; prints the median
// of several runs in milliseconds.
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "widgets/Unit5.h"
#include "editor/Unit1.h"
#include "link/Link.h"

namespace {

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir runtime;  // no serial port of another process is ever seen
  qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
  QApplication app(argc, argv);
  TLink link;   // on no port: it lists none
  link.setPortLister([] { return QList<TPortEntry>(); });
  Quorlan = new TQuorlan(link);
  Progress = new TProgress;
  Quorlan->setProgress(Progress);
  Quorlan->show();

  constexpr int kRuns = 21;
  std::vector<double> encode, decode;
  for (int i = 0; i < kRuns; ++i) {
    QElapsedTimer t;
    t.start();
    Quorlan->mass_out();
    encode.push_back(double(t.nsecsElapsed()) / 1e6);
    Progress->closeWindow();
    Quorlan->setEnabled(true);

    Quorlan->IncomingImage = Quorlan->OutgoingImage;
    t.start();
    Quorlan->Load();
    decode.push_back(double(t.nsecsElapsed()) / 1e6);
  }
  std::printf("encode (mass_out): median %.3f ms of %d runs\n", median(encode), kRuns);
  std::printf("decode (Load):     median %.3f ms of %d runs\n", median(decode), kRuns);
  Quorlan->hide();
  delete Quorlan;
  Quorlan = nullptr;
  delete Progress;
  return 0;
}
