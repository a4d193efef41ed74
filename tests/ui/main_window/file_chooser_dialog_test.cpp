// SPDX-License-Identifier: GPL-3.0-or-later
// File names that are not UTF-8 (a Latin-1 "caf\xe9.png"): kept byte for
// byte through the window's QStrings, listed and chosen in the window's own
// chooser, and opened as the picture. Names typed into the file fields are
// taken as the choosers would take them. Real folders, real widgets.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <filesystem>
#include <memory>

#include "files/messages.h"
#include "support/test_support.h"
#include "support/window_support.h"
#include "ui/axes/preview_frame.h"
#include "ui/common/file_names.h"
#include "ui/main_window/file_chooser_dialog.h"
#include "ui/main_window/folder_model.h"
#include "ui/main_window/main_window.h"
#include "ui/main_window/typed_paths.h"
#include "ui/main_window/window_commands.h"

using namespace vellomar;
using namespace vellomar::test;

namespace {

const std::string kLatin1Name = "caf\xe9.png";         // not UTF-8
const std::string kUtf8Name = "caf\xc3\xa9-utf8.png";  // "café-utf8.png"

// A PNG written by its bytes, for names Qt cannot open.
void writePngBytes(const std::string& path, int grey) {
  TempDir scratch;
  const std::string plain = scratch.file("p.png");
  QImage image(6, 4, QImage::Format_Grayscale8);
  image.fill(grey);
  QVERIFY(image.save(QString::fromStdString(plain), "PNG"));
  writeFile(path, readFile(plain));
}

FileRequest pictureRequest(const std::string& folder) {
  FileRequest request;
  request.title = QStringLiteral("Select picture");
  request.filters = {QStringLiteral("Pictures (*.png *.bmp)"), QStringLiteral("All files (*)")};
  request.initialFolder = pathToQt(folder);
  return request;
}

}  // namespace

class FileChooserDialogTest : public QObject {
  Q_OBJECT

  std::unique_ptr<MessageRecorder> messages_;
  std::unique_ptr<TempDir> dir_;

 private slots:
  void init() {
    resetWindowState();
    messages_ = std::make_unique<MessageRecorder>();
    dir_ = std::make_unique<TempDir>();
  }

  void cleanup() {
    setFileChooser(nullptr);
    dir_.reset();
    messages_.reset();
    resetWindowState();
  }

  void namesKeepEveryByteThroughTheWindow() {
    const struct {
      std::string bytes;
      bool undecodable;
      QString shown;
    } names[] = {
        {"plain.png", false, QStringLiteral("plain.png")},
        {kUtf8Name, false, QString::fromUtf8("caf\xc3\xa9-utf8.png")},
        {kLatin1Name, true, QString::fromUtf8("caf\xef\xbf\xbd.png")},
        // A stray continuation byte, a cut sequence, an overlong '/', a
        // surrogate's bytes: each kept as it is.
        {"a\x80" "b", true, QString::fromUtf8("a\xef\xbf\xbd" "b")},
        {"x\xe2\x82", true, QString::fromUtf8("x\xef\xbf\xbd\xef\xbf\xbd")},
        {"\xc0\xaf", true, QString::fromUtf8("\xef\xbf\xbd\xef\xbf\xbd")},
        {"\xed\xa0\x80", true, QString::fromUtf8("\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd")},
        {"\xf0\x9f\x8e\xb5.wav", false, QString::fromUtf8("\xf0\x9f\x8e\xb5.wav")},
    };
    for (const auto& n : names) {
      const QString held = pathToQt(n.bytes);
      QCOMPARE(pathFromQt(held), n.bytes);
      QCOMPARE(pathToQt(QByteArray::fromStdString(n.bytes)), held);
      QCOMPARE(hasUndecodableBytes(held), n.undecodable);
      QCOMPARE(displayName(held), n.shown);
      QCOMPARE(displayName(n.bytes), n.shown);
    }
    // A lone surrogate typed in (no byte made it) is no byte either.
    QCOMPARE(pathFromQt(QString(QChar(0xD800))), std::string("\xef\xbf\xbd"));
  }

  void theFolderListsEveryNameAndFiltersByPattern() {
    writePngBytes(dir_->file(kLatin1Name), 10);
    writePngBytes(dir_->file(kUtf8Name), 20);
    writeFile(dir_->file("notes.txt"), {'x'});
    writeFile(dir_->file(".hidden.png"), {'x'});
    std::filesystem::create_directory(dir_->file("sub"));
    // Qt's own listing leaves the Latin-1 name out: the reason for the model.
    QCOMPARE(QDir(QString::fromStdString(dir_->path())).entryList(QDir::Files | QDir::Hidden).size(), 3);

    FolderModel model;
    QVERIFY(model.setFolder(dir_->path()));
    model.setNamePatterns({QStringLiteral("*.PNG")});
    QCOMPARE(model.rowCount(), 3);  // the folder first, then both pictures
    QVERIFY(model.isFolder(0));
    QCOMPARE(model.shownName(0), QString("sub"));
    const int latin1 = model.rowOf(kLatin1Name);
    QVERIFY(latin1 > 0);
    QCOMPARE(model.pathOf(latin1), dir_->file(kLatin1Name));
    QCOMPARE(model.data(model.index(latin1, FolderModel::NameColumn)).toString(),
             QString::fromUtf8("caf\xef\xbf\xbd.png"));
    QVERIFY(model.rowOf("notes.txt") < 0);
    QVERIFY(model.rowOf(".hidden.png") < 0);
    model.setShowHidden(true);
    QVERIFY(model.rowOf(".hidden.png") > 0);
    model.setNamePatterns({QStringLiteral("*")});
    QVERIFY(model.rowOf("notes.txt") > 0);

    QVERIFY(!model.setFolder(dir_->file("none")));
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.error(), QString("No such file or directory"));
  }

  void theChooserShowsAndOpensALatin1Name() {
    writePngBytes(dir_->file(kLatin1Name), 10);
    writePngBytes(dir_->file(kUtf8Name), 20);
    FileChooserDialog chooser(pictureRequest(dir_->path()), nullptr);
    QCOMPARE(chooser.folder(), dir_->path());
    QCOMPARE(chooser.folderField()->text(), pathToQt(dir_->path()));
    const int row = chooser.model()->rowOf(kLatin1Name);
    QVERIFY(row >= 0);
    chooser.list()->setCurrentIndex(chooser.model()->index(row, 0));
    QCOMPARE(chooser.nameField()->text(), QString::fromUtf8("caf\xef\xbf\xbd.png"));
    chooser.openButton()->click();
    QCOMPARE(chooser.result(), int(QDialog::Accepted));
    QCOMPARE(pathFromQt(chooser.chosenPath()), dir_->file(kLatin1Name));

    // A name typed: taken from the folder shown; one not there is refused.
    FileChooserDialog typed(pictureRequest(dir_->path()), nullptr);
    typed.nameField()->setText(QString::fromUtf8("caf\xc3\xa9-utf8.png"));
    typed.openButton()->click();
    QCOMPARE(pathFromQt(typed.chosenPath()), dir_->file(kUtf8Name));
    FileChooserDialog missing(pictureRequest(dir_->path()), nullptr);
    missing.nameField()->setText(QStringLiteral("gone.png"));
    missing.openButton()->click();
    QVERIFY(missing.chosenPath().isEmpty());
    QCOMPARE(messages_->only().text, dir_->file("gone.png") + "\nFile not found.\nPlease check the file name.");

    // A folder named enters it; the up button comes back with it selected.
    std::filesystem::create_directory(dir_->file("sub"));
    missing.nameField()->setText(QStringLiteral("sub"));
    missing.openButton()->click();
    QCOMPARE(missing.folder(), dir_->file("sub"));
    missing.upButton()->click();
    QCOMPARE(missing.folder(), dir_->path());
    QCOMPARE(missing.list()->currentIndex().row(), missing.model()->rowOf("sub"));
    QVERIFY(missing.chosenPath().isEmpty());
  }

  void thePictureButtonLoadsALatin1Picture() {
    const std::string path = dir_->file(kLatin1Name);
    writePngBytes(path, 77);
    MainWindow window;
    window.show();
    window.session().lastPictureFolder = dir_->path();
    ModalAnswer answer(QStringLiteral("fileChooser"), [](QWidget* dialog) {
      auto* chooser = static_cast<FileChooserDialog*>(dialog);
      const int row = chooser->model()->rowOf(kLatin1Name);
      QVERIFY(row >= 0);
      chooser->list()->setCurrentIndex(chooser->model()->index(row, 0));
      chooser->openButton()->click();
    });
    window.controls().loadPictureButton->click();
    QVERIFY(answer.answered());
    QVERIFY(messages_->messages().empty());
    const auto picture = window.controls().previewFrame->picture();
    QVERIFY(picture != nullptr);
    QCOMPARE(picture->width, 6u);
    QCOMPARE(int(picture->pixels[0]), 77);
    QCOMPARE(window.session().picturePath, path);
    QCOMPARE(window.session().lastChosenFolder, dir_->path());
  }

  void aDroppedLatin1PictureIsLoadedByItsBytes() {
    const std::string path = dir_->file(kLatin1Name);
    writePngBytes(path, 55);
    // A file manager's URL of the name: its bytes percent-encoded.
    const QUrl url(QStringLiteral("file://") +
                   QString::fromLatin1(QByteArray::fromStdString(path).toPercentEncoding("/")));
    QCOMPARE(localPathOf(url), path);
    QCOMPARE(localPathOf(QUrl(QStringLiteral("https://example.org/a.png"))), std::string());
    MainWindow window;
    QVERIFY(dropFiles(window, {url}));
    QVERIFY(messages_->messages().empty());
    QCOMPARE(window.session().picturePath, path);
    QCOMPARE(int(window.controls().previewFrame->picture()->pixels[0]), 55);
    QCOMPARE(window.session().lastChosenFolder, dir_->path());
  }

  void typedNamesAreTakenAsTheChoosersTakeThem() {
    const std::string folder = dir_->path();
    QCOMPARE(resolveTypedPath("out.wav", folder), folder + "/out.wav");
    QCOMPARE(resolveTypedPath("../x/./out.wav", folder + "/a"), folder + "/x/out.wav");
    QCOMPARE(resolveTypedPath("/abs/out.wav", folder), std::string("/abs/out.wav"));
    QCOMPARE(resolveTypedPath("", folder), std::string());
    QCOMPARE(resolveTypedPath("out.wav", ""), (std::filesystem::current_path() / "out.wav").string());
    QCOMPARE(resolveTypedPath(kLatin1Name, folder), folder + "/" + kLatin1Name);
    qputenv("HOME", QByteArray::fromStdString(folder));
    QCOMPARE(resolveTypedPath("~/o.wav", "/elsewhere"), folder + "/o.wav");
    QCOMPARE(resolveTypedPath("~", "/elsewhere"), folder);

    QCOMPARE(withDefaultExtension(folder + "/out", "flac"), folder + "/out.flac");
    QCOMPARE(withDefaultExtension(folder + "/out.", "wav"), folder + "/out.wav");
    QCOMPARE(withDefaultExtension(folder + "/out.wav", "flac"), folder + "/out.wav");
    QCOMPARE(withDefaultExtension(folder + "/.wav", "flac"), folder + "/.wav");
    QCOMPARE(withDefaultExtension(folder, "wav"), folder);  // a folder stays a folder
    QCOMPARE(withDefaultExtension(folder + "/out", ""), folder + "/out");
    QCOMPARE(folderOf(folder + "/out.wav"), folder);
  }
};

QTEST_MAIN(FileChooserDialogTest)
#include "file_chooser_dialog_test.moc"
