#pragma once

class QWidget;

// A closed pop-up picker (combo box, spin box) under a scrolling page would catch the wheel
// meant for the page and change its value on the way past. With the guard the wheel goes on
// to the page; the keyboard and the opened list still change the value.
namespace WheelGuard {

void passWheelToPage(QWidget *control);

} // namespace WheelGuard
