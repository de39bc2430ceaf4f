#include "Output.h"

#include <QJsonDocument>

#ifdef Q_OS_WIN
#include <io.h>
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace cli {

Global &global() {
  static Global g;
  return g;
}

QString jsonLine(const QJsonObject &o) {
  return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

void write(std::FILE *stream, const QString &text) {
#ifdef Q_OS_WIN
  // Russian text in UTF-8 bytes shows as garbage in a console on code page 866 or 1251; the
  // console takes UTF-16 directly. Redirected output stays UTF-8.
  const HANDLE h = HANDLE(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  if (h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode)) {
    std::fflush(stream);  // what stdio still holds goes first
    DWORD written = 0;
    WriteConsoleW(h, reinterpret_cast<const wchar_t *>(text.utf16()), DWORD(text.size()), &written,
                  nullptr);
    return;
  }
#endif
  const QByteArray b = text.toUtf8();
  std::fwrite(b.constData(), 1, size_t(b.size()), stream);
}

}  // namespace cli
