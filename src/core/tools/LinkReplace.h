#pragma once

#include <QString>

class KeyedListModel;

// Why a link replacement stopped before the end of the list.
enum class LinkReplaceStop {
    None,          // every row was done
    EmptyKey,      // the row's link would become empty
    DuplicateKey,  // the row's link would become the link of another row
    NotWebAddress, // the row's link would no longer be an http or https address
};

struct LinkReplaceResult {
    LinkReplaceStop stop = LinkReplaceStop::None;
    int position = 0;      // the row it stopped at (1-based), 0 when it did not stop
    int otherPosition = 0; // for DuplicateKey: the row that already has that link
    int changedRows = 0;   // rows whose link or page address changed
};

// Replaces every occurrence of `find` (letter case ignored, searched from the start, replaced
// text not searched again) by `replacement` in each row's key and tag, from the first row to
// the last. Keys must stay unique, non-empty and web addresses (IsWebAddress): at a row whose
// new key would be empty, another row's or no web address, the walk stops and leaves that row
// and the rest untouched; the rows before it keep their replacement. An empty `find` changes
// nothing.
LinkReplaceResult ReplaceInLinks(KeyedListModel& list, const QString& find,
                                 const QString& replacement);
