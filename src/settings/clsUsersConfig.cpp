#include "settings/clsUsersConfig.h"

#include "platform/Conversions.h"
#include "platform/ErrorNumbers.h"

#include <algorithm>

clsUsersConfig::Profile clsUsersConfig::Add(const Profile &UserCfg, const QString &mName)
{
    const bool present = std::any_of(m_colUserConfig.begin(), m_colUserConfig.end(), [&](const Entry &e) {
        return e.key.compare(mName, Qt::CaseInsensitive) == 0;
    });
    if (!present)
        m_colUserConfig.push_back(Entry{mName, UserCfg});
    return UserCfg;
}

std::vector<clsUsersConfig::Entry>::const_iterator clsUsersConfig::find(const QVariant &Index) const
{
    if (Index.typeId() == QMetaType::QString) {
        const QString key = Index.toString();
        auto it = std::find_if(m_colUserConfig.begin(), m_colUserConfig.end(), [&](const Entry &e) {
            return e.key.compare(key, Qt::CaseInsensitive) == 0;
        });
        if (it == m_colUserConfig.end())
            ErrorNumbers::raise(ErrorNumbers::InvalidCall);
        return it;
    }
    const qint32 position = Conversions::ToInt32(Index);
    if (position < 1 || position > Count())
        ErrorNumbers::raise(ErrorNumbers::SubscriptOutOfRange);
    return m_colUserConfig.begin() + (position - 1);
}

clsUsersConfig::Profile clsUsersConfig::Item(const QVariant &Index) const
{
    return find(Index)->profile;
}
