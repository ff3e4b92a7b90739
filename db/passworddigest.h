#pragma once

#include <QByteArray>
#include <QString>

// The 20-byte password digest stored in users.password. The Quorvo application computes the
// same digest when an account logs in, so the recipe must never change:
// SHA-1 of the raw MD5 of (first half of the password, the user name, the rest of the
// password) in Latin-1, where every UTF-16 unit above U+00FF counts as '?'.
QByteArray hashPassword(QString username, QString password);
