#pragma once
// The main window's menu bar and the keys that stand for its buttons.

namespace korva {

class PortsMenu;
class TForm1;
struct UiDialogs;

// File, Coms, Logging, the hidden Setup, Tools and Help; a command that fails shows its box.
void BuildMainMenu(TForm1& form, PortsMenu& ports, const UiDialogs& dialogs);
// F5, Ctrl+Return and F9 act as a click on their button would, and only where it is offered.
void AddButtonKeys(TForm1& form);

}  // namespace korva
