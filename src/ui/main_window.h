#pragma once

#include <QLabel>
#include <QMainWindow>

#include <functional>
#include <memory>
#include <optional>

#include "core/browser_view.h"

namespace Ui {
class MainWindow;
}

namespace auralist {

class DeletePanel;
class DragTable;

// The browser window, from its .ui file, as the controller's view.
class MainWindow : public QMainWindow, public BrowserView, public TextField {
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    Ui::MainWindow &ui() const { return *m_ui; }
    DragTable *table() const;
    DeletePanel *deletePanel() const { return m_deletePanel; }

    // Called when the user closes the window.
    void setWindowWillClose(std::function<void()> handler) { m_willClose = std::move(handler); }

    // BrowserView
    Rect windowFrame() const override;
    void setWindowFrame(const Rect &frame) override;
    Rect availableScreen() const override;
    Rect scrollViewFrame() const override;
    void setScrollViewFrameSize(double width, double height) override;
    void display() override;
    void setLabelText(const QString &text) override;
    void setStatusText(const QString &text) override;
    void setFindHint(const QString &text) override;
    void setWindowTitle(const QString &title) override { QMainWindow::setWindowTitle(title); }
    void displayLabel() override;
    void setTrackName(const QString &text) override;
    void setLoopLabel(const QString &text) override;
    void setTimeText(const QString &text) override;
    void showWaveform(const std::string &path) override;
    void setPlayhead(double seconds, double length, bool playing) override;
    QString findText() const override;
    void setTableCanDrop(bool canDrop) override;
    void makeTableFirstResponder() override;
    void showDeletePanel(const QString &message, const QString &detail) override;
    void setBrowserVisible(bool visible) override;
    void hideDeletePanel() override;
    void terminate() override;
    void setLibraryFolders(const std::vector<CataloguedFolder> &folders) override;
    void setLibrarySearches(const std::vector<SavedSearch> &searches) override;
    void setFindText(const QString &text) override;
    std::optional<QString> askForSearchName(const QString &suggested, bool rename) override;
    // Tests: the next name asked for is this, without a dialog.
    void answerNextSearchName(QString answer) { m_searchNameAnswer = std::move(answer); }
    void setLibrarySelection(std::optional<Catalogue::ListKind> kind, const std::string &folder) override;
    std::optional<QString> askForTags(const QString &current, int count) override;
    // How many times the tags were asked for (tests).
    int tagsAsked() const { return m_tagsAsked; }
    // Tests: the next question about tags is answered with this, without a
    // dialog.
    void answerNextTagsQuestion(QString answer) { m_tagsAnswer = std::move(answer); }

    std::optional<std::vector<std::string>> askForDestinations(const std::vector<std::string> &current) override;
    // Tests: the next question about destinations is answered with these.
    void answerNextDestinations(std::vector<std::string> folders) { m_destinationsAnswer = std::move(folders); }
    std::optional<std::string> askForListFile() override;
    void answerNextListFile(std::string file) { m_listFileAnswer = std::move(file); }
    void showFileProgress(const QString &text) override;
    void hideFileProgress() override;
    void setUndoTitles(const QString &undo, const QString &redo) override;
    void showRegion(double start, double end) override;
    void setRegionFile(const std::string &path) override;
    // The Copy To and Move To menus' items, Ctrl+1 to Ctrl+9 and
    // Ctrl+Shift+1 to Ctrl+Shift+9, named after the destinations.
    void setDestinationNames(const std::vector<QString> &names);

    // Where a library entry keeps its kind and folder.
    static constexpr int kKindRole = Qt::UserRole + 1;
    static constexpr int kFolderRole = Qt::UserRole + 2;
    // A saved search's entry: its id (and kKindRole kSearchKind).
    static constexpr int kSearchRole = Qt::UserRole + 3;
    static constexpr int kSearchKind = -1;

signals:
    // The user chose an entry of the library pane.
    void libraryEntryChosen(int kind, const QByteArray &folder);
    void savedSearchChosen(qint64 id);
    void copyToDestination(int n);
    void moveToDestination(int n);

public:
    // TextField: the version text field.
    QString text() const override;
    void setText(const QString &text) override;

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::unique_ptr<Ui::MainWindow> m_ui;
    DeletePanel *m_deletePanel;
    QString m_labelText; // the label's whole text, before it is cut to its room
    void fitLabel();
    std::function<void()> m_willClose;
    int m_tagsAsked = 0;
    std::optional<QString> m_tagsAnswer;
    std::optional<QString> m_searchNameAnswer;
    std::optional<std::vector<std::string>> m_destinationsAnswer;
    std::optional<std::string> m_listFileAnswer;
    QLabel *m_findHint = nullptr;
    void placeFindHint();
    void fillLibrary();
    std::vector<CataloguedFolder> m_folders;
    std::vector<SavedSearch> m_searches;
};

} // namespace auralist
