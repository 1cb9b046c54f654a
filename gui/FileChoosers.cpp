#include "gui/FileChoosers.h"

#include <QFileDialog>

#include <initializer_list>

namespace kavri::gui {

namespace {

// "Images (*.jpg;*.bmp)" with the patterns "*.jpg *.bmp": Qt takes the
// patterns from the last parentheses, separated by blanks.
QString Filter(const char* description, std::initializer_list<const char*> patterns) {
    QStringList list;
    for (const char* pattern : patterns) {
        list << QString::fromLatin1(pattern);
    }
    return QString::fromLatin1(description) + QStringLiteral(" (") + list.join(QLatin1Char(' ')) +
           QLatin1Char(')');
}

}  // namespace

QStringList FileCampaignFilters() {
    return {
        Filter("All Media Files (*.jpg;*.jpeg;*.gif;*.bmp;*.3gp;*.avi;*.mp4;*.vcf;*.txt;*.mid;"
               "*.midi;*.mp3;*.wav;*.amr)",
               {"*.jpg", "*.jpeg", "*.gif", "*.bmp", "*.3gp", "*.avi", "*.mp4", "*.vcf", "*.txt",
                "*.mid", "*.midi", "*.mp3", "*.wav", "*.amr"}),
        Filter("Image Files (*.jpg;*.jpeg;*.gif;*.bmp)", {"*.jpg", "*.jpeg", "*.gif", "*.bmp"}),
        Filter("Video Files (*.3gp;*.avi;*.mp4)", {"*.3gp", "*.avi", "*.mp4"}),
        Filter("Audio Files (*.mid;*.midi;*.mp3;*.wav;*.amr)",
               {"*.mid", "*.midi", "*.mp3", "*.wav", "*.amr"}),
        Filter("Text Files (*.vcf;*.txt)", {"*.vcf", "*.txt"}),
    };
}

QStringList CouponPictureFilters() {
    return {
        Filter("All (*.jpg;*.jpeg;*.bmp)", {"*.jpg", "*.jpeg", "*.bmp"}),
        Filter("JPEG Image File (*.jpg)", {"*.jpg"}),
        Filter("JPEG Image File (*.jpeg)", {"*.jpeg"}),
        Filter("Bitmaps (*.bmp)", {"*.bmp"}),
    };
}

QString ChooseExistingFile(QWidget* parent, const QString& title, const QStringList& filters) {
    QFileDialog chooser(parent, title);
    chooser.setFileMode(QFileDialog::ExistingFile);
    chooser.setOption(QFileDialog::HideNameFilterDetails);
    chooser.setNameFilters(filters);
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) {
        return {};
    }
    return chooser.selectedFiles().constFirst();
}

}  // namespace kavri::gui
