#include "core/tools/LinkReplace.h"

#include "core/app/WebAddress.h"
#include "core/platform/KeyedListModel.h"

LinkReplaceResult ReplaceInLinks(KeyedListModel& list, const QString& find,
                                 const QString& replacement) {
    LinkReplaceResult result;
    if (find.isEmpty())
        return result;
    const int count = list.Count();
    for (int position = 1; position <= count; ++position) {
        const QString oldKey = list.Key(position);
        const QString oldTag = list.Tag(position);
        const QString key = QString(oldKey).replace(find, replacement, Qt::CaseInsensitive);
        const QString tag = QString(oldTag).replace(find, replacement, Qt::CaseInsensitive);
        if (key != oldKey) {
            if (key.isEmpty()) {
                result.stop = LinkReplaceStop::EmptyKey;
                result.position = position;
                return result;
            }
            // A row's link is fetched and may be opened in the login panel's browser.
            if (!IsWebAddress(key)) {
                result.stop = LinkReplaceStop::NotWebAddress;
                result.position = position;
                return result;
            }
            const int other = list.PositionOfKey(key);
            if (other != 0 && other != position) {
                result.stop = LinkReplaceStop::DuplicateKey;
                result.position = position;
                result.otherPosition = other;
                return result;
            }
            list.SetKey(position, key);
        }
        list.SetTag(position, tag);
        if (key != oldKey || tag != oldTag)
            ++result.changedRows;
    }
    return result;
}
