#pragma once

class QLabel;

// Screen readers learn of a failure through the label that shows it: while a failure shows, a
// message label is an alert (role AlertMessage) named "Error: " and its text, and each failure
// shows the label anew, which is what assistive technology announces for alerts. Qt 6.4 has no
// call that announces a text, and sends nothing over AT-SPI for QAccessible::Alert.
//
// A screen reader keeps the role that an object had when it first read it, and speaks by itself
// only an object that appears with the role Notification. So each message label has a hidden
// companion of that role from the window's start, which appears, named as the label is read,
// whenever the label shows an outcome: a failure, or a success that the caller announces.
//
// A message label is one whose form sets the dynamic property "messageLabel" to true.

// Installs the interfaces of the message labels and their companions, and has a field that gets
// the focus say so before it moves its caret. Call it once after QApplication is made, so that
// it is asked before the widget interfaces that QApplication installs.
void installScreenReaderSupport();

// Gives the message label its companion. Call it where the window is made.
void addAnnouncer(QLabel *label);

// Has screen readers speak what `label` now shows, also when the same text shows again.
void announceOutcome(QLabel *label);

// Marks the text that `label` now shows as a failure, shows the label anew and announces it, so
// that a failure is announced also when its text repeats. Any later text of the label is plain
// again.
void announceFailure(QLabel *label);
