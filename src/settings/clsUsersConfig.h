#pragma once

#include "settings/clsUserConfig.h"

#include <QString>
#include <QVariant>
#include <memory>
#include <vector>

// The user profiles: keyed, in insertion order, keys compared without regard to case,
// positions counted from 1.
class clsUsersConfig
{
public:
    using Profile = std::shared_ptr<clsUserConfig>;

    // Inserts UserCfg at the end under mName; a key already present (in any case) inserts
    // nothing. Returns UserCfg either way.
    Profile Add(const Profile &UserCfg, const QString &mName);

    // Index: a position from 1 (a number) or a key (text). A missing entry raises an error.
    Profile Item(const QVariant &Index) const;
    qint32 Count() const { return qint32(m_colUserConfig.size()); }

    // Iteration in insertion order.
    struct Entry
    {
        QString key;
        Profile profile;
    };
    class const_iterator
    {
    public:
        explicit const_iterator(std::vector<Entry>::const_iterator it) : m_it(it) {}
        const Profile &operator*() const { return m_it->profile; }
        const_iterator &operator++()
        {
            ++m_it;
            return *this;
        }
        bool operator!=(const const_iterator &other) const { return m_it != other.m_it; }

    private:
        std::vector<Entry>::const_iterator m_it;
    };
    const_iterator begin() const { return const_iterator(m_colUserConfig.begin()); }
    const_iterator end() const { return const_iterator(m_colUserConfig.end()); }

private:
    std::vector<Entry>::const_iterator find(const QVariant &Index) const;

    std::vector<Entry> m_colUserConfig;
};
