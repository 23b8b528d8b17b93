#pragma once

#include <memory>

class TForm1;
class TForm2;
class TForm3;
class TAboutBox;

// The program's four windows, created once at start and released together at the end.
struct ProgramWindows {
    ProgramWindows();
    ~ProgramWindows();
    std::unique_ptr<TForm1> form1;
    std::unique_ptr<TForm2> form2;
    std::unique_ptr<TForm3> form3;
    std::unique_ptr<TAboutBox> aboutBox;
};

// Creates Form1, Form2, Form3 and AboutBox in that order. When a table cannot be
// opened the engine's message goes to the error box and to the error output, and
// nothing is returned.
std::unique_ptr<ProgramWindows> createWindows();

// The whole program on an existing application object: the font, the windows, the
// main window and the message loop. Returns the exit code: 1 when the start failed.
int runProgram();
