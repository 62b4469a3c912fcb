#pragma once

#include "core/services.h"

namespace auralist {

class Controller;
class MainWindow;
class TableController;

// The window's controls and menu items connected to what they do: the
// transport and the options of playback, the find field, Open Folder, the
// Library pane's lists and menus, the import and export of marks, triage
// (destinations, undo, rename, regions); and the window's layout as the
// user left it, kept in the settings.
//
// Threads: the window's, as everything it connects.
class WindowWiring {
public:
    // catalogue: null when there is none.
    WindowWiring(MainWindow &window, Controller &controller, TableController &table, Settings &settings,
                 Catalogue *catalogue);

    void connect();
    // The window's size, the table's columns, the splitters and the sort.
    void restoreLayout();
    void saveLayout();

private:
    void connectPlayback();
    void connectLibrary();
    void connectTriage();

    MainWindow &m_window;
    Controller &m_controller;
    TableController &m_table;
    Settings &m_settings;
    Catalogue *m_catalogue;
};

} // namespace auralist
