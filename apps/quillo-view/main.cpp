// quillo-view [FILE]: an image viewer and editor on the Quillo components.
#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include "apps/quillo-view/viewerwindow.h"
#include "quillo/backends/qt/qthost.h"
#include "quillo/version.h"

int main(int argc, char** argv) {
  QApplication App(argc, argv);
  QApplication::setApplicationName("quillo-view");
  QApplication::setApplicationVersion(quillo::QuilloVersionString);
  QCommandLineParser Args;
  Args.setApplicationDescription(
      "An image viewer and editor: open, zoom, select, process, print and save images in every "
      "format the Quillo library reads and writes.");
  Args.addHelpOption();
  Args.addVersionOption();
  Args.addPositionalArgument("file", "The image to open (a GIF frame or TIFF page: --image N).",
                             "[file]");
  const QCommandLineOption Image("image", "Opens image N (from 0) of a multi-image file.", "N",
                                 "0");
  Args.addOption(Image);
  Args.process(App);
  quillo::QuilloQtInstall();

  quillo::view::TViewerWindow Window;
  Window.show();
  const QStringList Files = Args.positionalArguments();
  if (!Files.isEmpty()) {
    const QString File = Files.first();
    const int32_t Index = Args.value(Image).toInt();
    // Opened once the window has its size, so that a large image is fitted to it.
    QTimer::singleShot(0, &Window, [&Window, File, Index] { Window.OpenFile(File, Index); });
  }
  return QApplication::exec();
}
