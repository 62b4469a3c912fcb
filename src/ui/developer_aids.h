#pragma once

class QWidget;

namespace auralist {

// A developer's aids, with the debug log on: every time the window's thread
// was held up for over 50 ms is logged (and the longest at the quit), and
// F12 holds that thread for a second, to hear that the sound does not care.
void addDeveloperAids(QWidget &window);

} // namespace auralist
