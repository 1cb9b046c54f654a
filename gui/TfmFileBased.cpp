#include "gui/TfmFileBased.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QToolButton>

#include <memory>

#include "app/FileCampaignEditor.h"
#include "gui/FileChoosers.h"
#include "gui/TfmMain.h"

namespace kavri::gui {

namespace {

constexpr int kDesignHeight = 327;

}  // namespace

TfmFileBased::TfmFileBased(TfmMain& main)
    : TfmCampaignEditor(main,
                        std::make_unique<FileCampaignEditor>(
                            main.Session().Store(), main.DateClock(), main.Session().Texts()),
                        kDesignHeight, "FileBased_Title",
                        "Kavri Tandrel - File Based Campaign Editor") {
    laFileName = new QLabel(Text("FileBased_FileName", "File name"), this);
    edFileName = new QLineEdit(this);
    laFileName->setBuddy(edFileName);
    sbSelectFile = new QToolButton(this);
    sbSelectFile->setAutoRaise(true);
    sbSelectFile->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    sbSelectFile->setToolTip(Text("SelectFile", "Select file for campaign"));

    const int row = NextDetailsRow();
    DetailsGrid()->addWidget(laFileName, row, 0);
    DetailsGrid()->addWidget(edFileName, row, 1, 1, 2);
    DetailsGrid()->addWidget(sbSelectFile, row, 3);
    FitToTexts();

    AskFile = [this](const QString& title, const QStringList& filters) {
        return ChooseExistingFile(this, title, filters);
    };
    connect(sbSelectFile, &QToolButton::clicked, this, &TfmFileBased::sbSelectFileClick);
}

FileCampaignEditor& TfmFileBased::FileEditor() {
    return static_cast<FileCampaignEditor&>(Editor());
}

void TfmFileBased::ChooseSourceFile(const QString& path) {
    FileEditor().ChooseSourceFile(path.toStdString());
    edFileName->setText(QString::fromStdString(FileEditor().Values().FileName));
}

void TfmFileBased::sbSelectFileClick() {
    const QString path =
        AskFile(Text("FileBased_SelectFile", "Select file for campaign"), FileCampaignFilters());
    if (!path.isEmpty()) {
        ChooseSourceFile(path);
    }
}

void TfmFileBased::ShowOwn() {
    edFileName->setText(QString::fromStdString(FileEditor().Values().FileName));
}

void TfmFileBased::CollectOwn() {
    FileEditor().Values().FileName = edFileName->text().toStdString();
}

}  // namespace kavri::gui
