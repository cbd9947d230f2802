#pragma once

#include <QDialog>

namespace kt {

inline constexpr const char* ProgramVersionText = "4.1";

// Help / About: the program name, "Version 4.1" and a note that opens the maker's web page.
// Children: `ProductName_L`, `Version_L`, `Comments_L` (the note), `OKButton`.
class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* owner, const QColor& windowColour = {});
};

} // namespace kt
