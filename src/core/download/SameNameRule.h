#pragma once

#include "core/transfer/FileOwnership.h"

#include <QString>

class KeyedListModel;

// The same-name rule, decided afresh whenever a row's transfer is about to start (a resumed
// or restored row too), with the option the user has chosen now. A name that holds a file the
// row does not own is the user's: 跳过 skips it, 重命名 takes another name, 覆盖 replaces it,
// but only with a verified body (CommitRule). The row's own file, unchanged since its commit,
// is replaced by a verified body whatever the option.
enum class SameNameChoice { Skip, Overwrite, Rename };

struct StartTarget {
    enum class Action {
        Download, // write to `path`
        Skip,     // the name holds the user's file and 跳过 is chosen
        Wait,     // another row of the list is writing that name right now
        Invalid,  // no usable name can be built
    };
    Action action = Action::Invalid;
    QString path;
    // The row's Text for `path` (it changes when another name was taken).
    QString newName;
    // What `path` may hold for a body to go over it (CommitRule::replaceable, ::overwrite).
    OwnedFile replaceable;
    bool overwrite = false;
};

// Decides where the row at `position` writes, from its folder, name and `type` (the row's
// type unless the answer named another). The folder's leftovers of earlier runs are swept
// first, so that a reservation a killed run left never counts as a taken name. A file another
// row of the list brought is kept, as the rename rule would keep it.
StartTarget DecideStartTarget(const KeyedListModel& list, int position, const QString& type,
                              SameNameChoice choice);
