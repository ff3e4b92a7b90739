#pragma once

#include <QString>

// How a key checkout through the triggers went wrong, as InventoryDb::checkCheckout finds it.
struct CheckoutFailure
{
    // The server's "<number>: <text>" for a statement it refused; empty where every statement
    // went through and the triggers counted otherwise.
    QString reason;
    bool dated = true; // now_date_pk set the checkout's DateOut
    // pkeys.InInv of the test key after the checkout, the change of NumOut and the check-in,
    // where Quorvo needs "2, 1, 3" (the key was added with 3).
    QString stock;
};
