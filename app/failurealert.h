#pragma once

class QLabel;

// Screen readers learn of a failure through the label that shows it: while a failure shows, a
// message label is an alert (role AlertMessage) named "Error: " and its text, and each failure
// shows the label anew, which is what assistive technology announces for alerts. Qt 6.4 has no
// call that announces a text, and sends nothing over AT-SPI for QAccessible::Alert.
//
// A message label is one whose form sets the dynamic property "messageLabel" to true.

// Installs the interface of the message labels. Call it once after QApplication is made, so
// that it is asked before the widget interfaces that QApplication installs.
void installFailureAlerts();

// Marks the text that `label` now shows as a failure and shows the label anew, so that a failure
// is announced also when its text repeats. Any later text of the label is plain again.
void announceFailure(QLabel *label);
