#include "cpmodel/frame-commands-model.h"

#include "cpmodel/frame-ids.h"

#include <algorithm>

namespace lumbrake {

std::vector<AccessSpec> owner_acl(const std::string& user) {
    return {{user, READACCESS, false}, {user, WRITEACCESS, false}};
}

SourceConfiguration new_source_record(const std::string& user, const std::string& new_name) {
    SourceConfiguration s;
    s.Name = new_name;
    s.DepthLimit = 0;
    s.CheckRobotsTxt = true;
    s.HasSideMetadata = false;
    s.Type = AUTH_NONE;
    s.CookieParams.Action = COOKIE_GET;
    s.CookieParams.Freshness = 0;
    s.ACL = owner_acl(user);
    return s;
}

AuthConfiguration new_auth_record(const std::string& user) {
    AuthConfiguration a;
    a.ACL = owner_acl(user);
    return a;
}

ArchiveConfiguration new_archive_record(const SourceInfo& source, bool historicize,
                                        std::int32_t auth, const std::string& user) {
    ArchiveConfiguration a;
    const std::string& name = source.Configuration.Name;
    const std::size_t slash = name.rfind('\\');
    a.Name = slash == std::string::npos ? name : name.substr(slash + 1);
    a.Historicize = historicize;
    a.Source = source.Source;
    a.Auth = auth;
    a.SchedulingFrequency = DISABLED;
    a.SchedulingAttribute = 0;
    a.AccessTime = 0;
    a.PagesLimit = 0;
    a.GarbageLimit = 0;
    a.DocumentCache = FULLCACHE;
    a.ACL = owner_acl(user);
    return a;
}

CollectionConfiguration new_collection_record(const std::string& user, const std::string& name,
                                              std::vector<std::int32_t> archives) {
    CollectionConfiguration c;
    c.Name = name;
    c.Archives = std::move(archives);
    c.ACL = owner_acl(user);
    return c;
}

WatchConfiguration new_watch_record(const std::string& user, const std::string& new_name,
                                    std::int32_t collection) {
    WatchConfiguration w;
    w.Name = new_name;
    w.Query.clear();
    w.Parser = ALGPARSER;
    w.Freshness = 604800;
    w.Collection = collection;
    w.ACL = owner_acl(user);
    return w;
}

bool needs_auth_record(const SourceInfo& source) {
    return source.Configuration.Type != AUTH_NONE;
}

add_to_collection_plan plan_add_to_collection(std::int32_t archive, std::int32_t choice_id,
                                              const std::vector<CollectionInfo>& collections,
                                              const std::string& user, const std::string& name) {
    add_to_collection_plan plan;
    if (choice_id < 1) {
        plan.action = add_to_collection_plan::create;
        plan.configuration = new_collection_record(user, name, {archive});
        return plan;
    }
    for (const CollectionInfo& c : collections) {
        if (c.Collection != choice_id) continue;
        const auto& ids = c.Configuration.Archives;
        if (std::find(ids.begin(), ids.end(), archive) != ids.end()) return plan;
        plan.action = add_to_collection_plan::update;
        plan.configuration = c.Configuration;
        plan.configuration.Archives.push_back(archive);
        plan.id = c.Collection;
        plan.magic = c.Magic;
        return plan;
    }
    return plan;
}

bool source_in_use(std::int32_t source, const std::vector<ArchiveInfo>& archives) {
    return std::any_of(archives.begin(), archives.end(), [&](const ArchiveInfo& a) {
        return a.Configuration.Source == source;
    });
}

bool collection_in_use(std::int32_t collection, const std::vector<WatchInfo>& watches) {
    return std::any_of(watches.begin(), watches.end(), [&](const WatchInfo& w) {
        return w.Configuration.Collection == collection;
    });
}

namespace {

template <class T, class Id> bool erase_id(std::vector<T>& list, std::int32_t id, Id of) {
    const auto it =
        std::find_if(list.begin(), list.end(), [&](const T& item) { return of(item) == id; });
    if (it == list.end()) return false;
    list.erase(it);
    return true;
}

} // namespace

bool remove_by_id(std::vector<SourceInfo>& list, std::int32_t id) {
    return erase_id(list, id, [](const SourceInfo& s) { return s.Source; });
}
bool remove_by_id(std::vector<ArchiveInfo>& list, std::int32_t id) {
    return erase_id(list, id, [](const ArchiveInfo& a) { return a.Archive; });
}
bool remove_by_id(std::vector<CollectionInfo>& list, std::int32_t id) {
    return erase_id(list, id, [](const CollectionInfo& c) { return c.Collection; });
}
bool remove_by_id(std::vector<WatchInfo>& list, std::int32_t id) {
    return erase_id(list, id, [](const WatchInfo& w) { return w.Watch; });
}

bool replace_archive(std::vector<ArchiveInfo>& archives, const ArchiveInfo& answer) {
    if (answer.Archive <= 0) return false;
    for (ArchiveInfo& a : archives)
        if (a.Archive == answer.Archive) {
            a = answer;
            return true;
        }
    return false;
}

cp_kind linked_kind(int tree_page) {
    switch (tree_page) {
    case 0:
        return cp_kind::archive;
    case 1:
        return cp_kind::source;
    case 2:
        return cp_kind::watch;
    case 3:
        return cp_kind::collection;
    default:
        return cp_kind::none;
    }
}

int tree_page_of(cp_kind kind) {
    return kind == cp_kind::none ? -1 : static_cast<int>(kind) - 1;
}

const char* manual_file(int id) {
    switch (id) {
    case ID_MANUAL_INSTALLATION:
        return "installation.html";
    case ID_MANUAL_USER:
        return "user.html";
    case ID_MANUAL_ADMINISTRATION:
        return "administration.html";
    case ID_MANUAL_REFERENCE:
        return "reference.html";
    case ID_MANUAL_COOKBOOK:
        return "cookbook.html";
    default:
        return nullptr;
    }
}

std::vector<std::string> manual_candidates(const std::string& program_dir,
                                           const std::string& file) {
    std::string dir = program_dir;
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return {dir + "/manual/" + file, dir + "/../share/trawlnest/manual/" + file};
}

} // namespace lumbrake
