// The disk list filter of the main window.
#include "Unit1.h"

void TForm1::rebuildDiskList() {}
void TForm1::CheckBox1Click() { rebuildDiskList(); }
void TForm1::CheckBox2Click() { rebuildDiskList(); }
void TForm1::CheckBox4Click() { rebuildDiskList(); }
void TForm1::DBLookupComboBox1Click() { rebuildDiskList(); }
void TForm1::DBLookupComboBox2Click() { rebuildDiskList(); }
void TForm1::Edit4Click() { rebuildDiskList(); }
void TForm1::Edit4KeyUp() { rebuildDiskList(); }
void TForm1::RadioButton1Click() { rebuildDiskList(); }
void TForm1::RadioButton2Click() { rebuildDiskList(); }
void TForm1::RadioButton3Click() { rebuildDiskList(); }
void TForm1::Query5SQLAll() {}
void TForm1::Query5SQLNal() {}
void TForm1::Query5SQLRuk() {}
