#pragma once

#include <QString>

#include <optional>
#include <string>
#include <vector>

#include "core/services.h"

namespace auralist {

// A rectangle in screen coordinates, y growing downwards (y is the top edge).
struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool operator==(const Rect &) const = default;
};

// What the controller needs of the browser window and its delete panel.
class BrowserView {
public:
    BrowserView() = default;
    virtual ~BrowserView() = default;
    BrowserView(const BrowserView &) = delete;
    BrowserView &operator=(const BrowserView &) = delete;

    virtual Rect windowFrame() const = 0;
    virtual void setWindowFrame(const Rect &frame) = 0;
    // The part of the screen a window may cover.
    virtual Rect availableScreen() const = 0;
    virtual Rect scrollViewFrame() const = 0;
    virtual void setScrollViewFrameSize(double width, double height) = 0;
    virtual void display() = 0;

    virtual void setLabelText(const QString &text) = 0;
    virtual void setWindowTitle(const QString &title) = 0;
    virtual void displayLabel() = 0;
    virtual void setTrackName(const QString &text) = 0;
    virtual void setLoopLabel(const QString &text) = 0;
    // The playing sound's elapsed time and length ("0:03.2 / 0:07.5"), or
    // nothing.
    virtual void setTimeText(const QString &text) = 0;
    // The sound the waveform strip shows (empty: none), and where playback
    // is in it.
    virtual void showWaveform(const std::string &path) = 0;
    virtual void setPlayhead(double seconds, double length, bool playing) = 0;
    virtual QString findText() const = 0;

    // Shows the sound table (the tall window) or hides it (the short one).
    virtual void setBrowserVisible(bool visible) = 0;

    virtual void setTableCanDrop(bool canDrop) = 0;
    virtual void makeTableFirstResponder() = 0;

    // Puts the question (and what deleting does, below it) into the delete
    // panel, makes its delete button the default one and shows it
    // window-modal; returns at once.
    virtual void showDeletePanel(const QString &message, const QString &detail) = 0;
    virtual void hideDeletePanel() = 0;

    // The Library pane: the remembered folders, and which entry is shown
    // (kind and folder; nothing selected when kind is empty).
    virtual void setLibraryFolders(const std::vector<CataloguedFolder> &folders) { (void)folders; }
    // The saved searches, listed in the Library pane after the folders.
    virtual void setLibrarySearches(const std::vector<SavedSearch> &searches) { (void)searches; }
    // Puts text in the find field (which finds, as typing does).
    virtual void setFindText(const QString &text) { (void)text; }
    // Asks for the name of a search (suggested to start with), or for a
    // new one (rename); nothing when the user cancels.
    virtual std::optional<QString> askForSearchName(const QString &suggested, bool rename)
    {
        (void)suggested;
        (void)rename;
        return std::nullopt;
    }
    virtual void setLibrarySelection(std::optional<Catalogue::ListKind> kind, const std::string &folder)
    {
        (void)kind;
        (void)folder;
    }
    // Asks for the tags of count sounds, starting from current; nothing
    // when the user cancels.
    virtual std::optional<QString> askForTags(const QString &current, int count)
    {
        (void)current;
        (void)count;
        return std::nullopt;
    }

    // The status line under the table ("Analysing 1,234 of 50,000"); empty
    // hides it.
    virtual void setStatusText(const QString &text) { (void)text; }
    // The line under the find field: why a term of the query was read as
    // text, or what it passed over; empty hides it.
    virtual void setFindHint(const QString &text) { (void)text; }
    // Edit > Destinations: the folders, edited; nothing when cancelled.
    virtual std::optional<std::vector<std::string>> askForDestinations(const std::vector<std::string> &current)
    {
        (void)current;
        return std::nullopt;
    }
    // A file operation that takes a while: what it is doing, with a way to
    // stop it; hidden when it is done.
    virtual void showFileProgress(const QString &text) { (void)text; }
    virtual void hideFileProgress() { }
    // The Edit menu's Undo and Redo items (empty: nothing to undo or redo).
    virtual void setUndoTitles(const QString &undo, const QString &redo)
    {
        (void)undo;
        (void)redo;
    }
    // The region shown on the waveform (end <= start: none), and the file
    // of it that a drag out of the waveform hands on (empty: none yet).
    virtual void showRegion(double start, double end)
    {
        (void)start;
        (void)end;
    }
    virtual void setRegionFile(const std::string &path) { (void)path; }
    // File > Export List: the file to write and its format (a name ending
    // in .csv is CSV); nothing when cancelled.
    virtual std::optional<std::string> askForListFile() { return std::nullopt; }

    // Ends the application once control returns to the event loop.
    virtual void terminate() = 0;
};

} // namespace auralist

namespace auralist {

// A text field whose text the core reads and writes.
class TextField {
public:
    TextField() = default;
    virtual ~TextField() = default;
    TextField(const TextField &) = delete;
    TextField &operator=(const TextField &) = delete;

    virtual QString text() const = 0;
    virtual void setText(const QString &text) = 0;
};

} // namespace auralist
