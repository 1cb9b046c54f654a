#pragma once

#include <functional>

#include "gui/TfmCampaignEditor.h"

class QLabel;
class QToolButton;

namespace kavri {
class FileCampaignEditor;
}

namespace kavri::gui {

// The file-based campaign editor: the shared frame plus the content file's
// row, the name under which the file is kept in the campaign folder (and so
// the name phones receive) and a button that picks the source file. OK copies
// the picked file into the campaign folder under that name, or renames the
// stored one when no file was picked; the rules are FileCampaignEditor's.
class TfmFileBased final : public TfmCampaignEditor {
    Q_OBJECT

public:
    explicit TfmFileBased(TfmMain& main);

    // A file picked in the chooser, or dropped on the campaign list: its full
    // path becomes the source and its name fills edFileName.
    void ChooseSourceFile(const QString& path);
    // The editor this window feeds.
    FileCampaignEditor& FileEditor();

    QLabel* laFileName = nullptr;
    QLineEdit* edFileName = nullptr;
    QToolButton* sbSelectFile = nullptr;

    // Asks for the source file (title, filters); empty for no. The file
    // chooser by default; a test replaces it.
    std::function<QString(const QString& title, const QStringList& filters)> AskFile;

private:
    void ShowOwn() override;
    void CollectOwn() override;
    void sbSelectFileClick();
};

}  // namespace kavri::gui
