#include "plugin-system/element_stream.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "plugin-system/plugins_loader.h"
#include "util/codecs.h"
#include "util/log.h"
#include "fff/FFF.h"

namespace lumbrake {

namespace {

constexpr std::uint32_t full_score = 1000000;

char* copy_string(const char* s) {
    if (!s) return nullptr;
    std::size_t n = std::strlen(s) + 1;
    char* copy = static_cast<char*>(std::malloc(n));
    if (copy) std::memcpy(copy, s, n);
    return copy;
}

char* copy_bytes(const char* s, std::size_t n) {
    char* copy = static_cast<char*>(std::malloc(n ? n : 1));
    if (copy && n) std::memcpy(copy, s, n);
    return copy;
}

char* copy_string(const std::string& s) {
    return copy_bytes(s.c_str(), s.size() + 1);
}

lumbrake_element make_element(std::uint32_t type) {
    lumbrake_element e;
    std::memset(&e, 0, sizeof e);
    e.type = type;
    return e;
}

bool is_meta_type(std::uint32_t type) {
    return type == LUMBRAKE_EL_META_DOCUMENTWIDE || type == LUMBRAKE_EL_META_POSITIONAL ||
           type == LUMBRAKE_EL_META_RANGED;
}

bool is_structure_type(std::uint32_t type) {
    return type == LUMBRAKE_EL_LINKINFO ||
           (type >= LUMBRAKE_EL_PARA_BEG && type <= LUMBRAKE_EL_WORDBUF);
}

} // namespace

double fraction_from_score(std::uint32_t millionths) {
    if (millionths == 0) return 0.0;
    if (millionths >= full_score) return 1.0;
    return millionths * 0.000001;
}

std::uint32_t score_from_fraction(double fraction) {
    if (std::isnan(fraction) || fraction <= 0) return 0;
    if (fraction >= 1) return full_score;
    return static_cast<std::uint32_t>(fraction * 1000000);
}

void element_free_contents(lumbrake_element& e) {
    switch (e.type) {
    case LUMBRAKE_EL_DOCINFO:
        std::free(e.u.docinfo.docid);
        std::free(e.u.docinfo.url);
        std::free(e.u.docinfo.mimetype);
        e.u.docinfo.docid = e.u.docinfo.url = e.u.docinfo.mimetype = nullptr;
        break;
    case LUMBRAKE_EL_LINKINFO:
        std::free(e.u.linkinfo.url);
        e.u.linkinfo.url = nullptr;
        break;
    case LUMBRAKE_EL_WORDBUF:
        std::free(e.u.wordbuf.words);
        e.u.wordbuf.words = nullptr;
        e.u.wordbuf.length = 0;
        break;
    case LUMBRAKE_EL_DICT_BEG:
        std::free(e.u.dict_beg.url);
        e.u.dict_beg.url = nullptr;
        break;
    case LUMBRAKE_EL_META_DOCUMENTWIDE:
    case LUMBRAKE_EL_META_POSITIONAL:
    case LUMBRAKE_EL_META_RANGED:
        std::free(e.u.meta.key);
        std::free(e.u.meta.value);
        e.u.meta.key = e.u.meta.value = nullptr;
        break;
    default:
        break;
    }
}

bool element_copy(lumbrake_element& d, const lumbrake_element& s) {
    if (&d == &s) return true;
    // Types without strings (and types the host does not know) are copied as they are.
    std::memcpy(&d, &s, sizeof d);
    d.reserved = 0;
    bool ok = true;
    auto dup = [&ok](const char* text) {
        char* c = copy_string(text);
        if (text && !c) ok = false;
        return c;
    };
    switch (s.type) {
    case LUMBRAKE_EL_DOCINFO:
        d.u.docinfo.docid = dup(s.u.docinfo.docid);
        d.u.docinfo.url = dup(s.u.docinfo.url);
        d.u.docinfo.mimetype = dup(s.u.docinfo.mimetype);
        break;
    case LUMBRAKE_EL_LINKINFO:
        d.u.linkinfo.url = dup(s.u.linkinfo.url);
        break;
    case LUMBRAKE_EL_DICT_BEG:
        d.u.dict_beg.url = dup(s.u.dict_beg.url);
        break;
    case LUMBRAKE_EL_WORDBUF:
        if (s.u.wordbuf.words) {
            d.u.wordbuf.words = copy_bytes(s.u.wordbuf.words, s.u.wordbuf.length);
            if (!d.u.wordbuf.words) ok = false;
        }
        break;
    case LUMBRAKE_EL_META_DOCUMENTWIDE:
    case LUMBRAKE_EL_META_POSITIONAL:
    case LUMBRAKE_EL_META_RANGED:
        d.u.meta.unused = 0;
        d.u.meta.key = dup(s.u.meta.key);
        d.u.meta.value = dup(s.u.meta.value);
        break;
    default:
        break;
    }
    if (!ok) element_free_contents(d);
    return ok;
}

void free_elements(std::vector<lumbrake_element>& elements) {
    for (lumbrake_element& e : elements)
        element_free_contents(e);
    elements.clear();
}

// ---- flattening ----

namespace {

class flattener : public FFF::tXMLTree::visitor {
public:
    flattener(std::vector<lumbrake_element>& out, std::vector<std::string>& link_urls)
        : out_(out), link_urls_(link_urls) {}

    void visit(const FFF::tXMLTree* node, int, bool leaving) override {
        if (auto* root = dynamic_cast<const FFF::DocumentData*>(node)) {
            if (!leaving) {
                links_ = &root->linkscores_;
                for (const FFF::linkscore_t& l : root->linkscores_) {
                    lumbrake_element e = make_element(LUMBRAKE_EL_LINKINFO);
                    e.u.linkinfo.url = copy_string(l.url);
                    e.u.linkinfo.score = fraction_from_score(l.score);
                    out_.push_back(e);
                    link_urls_.push_back(l.url);
                }
            }
        } else if (auto* contents = dynamic_cast<const FFF::Contents*>(node)) {
            if (!leaving)
                for (const FFF::meta& m : contents->metas)
                    append_meta(m);
        } else if (dynamic_cast<const FFF::P*>(node)) {
            out_.push_back(make_element(leaving ? LUMBRAKE_EL_PARA_END : LUMBRAKE_EL_PARA_BEG));
        } else if (dynamic_cast<const FFF::S*>(node)) {
            // Sentences leave no trace in the stream.
        } else if (auto* low = dynamic_cast<const FFF::Low*>(node)) {
            if (leaving) {
                out_.push_back(make_element(LUMBRAKE_EL_DICT_END));
                return;
            }
            lumbrake_element beg = make_element(LUMBRAKE_EL_DICT_BEG);
            beg.u.dict_beg.slice = low->dictid >= 1 && low->dictid <= 31 ? low->dictid : 0;
            if (FFF::is_link_slice(low->dictid) && links_ && low->urlid >= 0 &&
                static_cast<std::size_t>(low->urlid) < links_->size())
                beg.u.dict_beg.url = copy_string((*links_)[low->urlid].url);
            out_.push_back(beg);

            lumbrake_element words = make_element(LUMBRAKE_EL_WORDBUF);
            std::string buffer;
            for (const std::string& w : low->words) {
                buffer += w;
                buffer += '\0';
            }
            if (!buffer.empty()) {
                words.u.wordbuf.words = copy_bytes(buffer.data(), buffer.size());
                words.u.wordbuf.length = static_cast<std::uint32_t>(buffer.size());
            }
            out_.push_back(words);
        } else if (!leaving) {
            TN_LOG(LF_PLUGINSYSTEM, LL_ERROR, "Unknown tag in FFF");
        }
    }

private:
    void append_meta(const FFF::meta& m) {
        std::uint32_t type = m.type == FFF::meta_positional ? LUMBRAKE_EL_META_POSITIONAL
                             : m.type == FFF::meta_ranged   ? LUMBRAKE_EL_META_RANGED
                                                            : LUMBRAKE_EL_META_DOCUMENTWIDE;
        lumbrake_element e = make_element(type);
        e.u.meta.slice = m.dictid;
        e.u.meta.key = copy_string(m.key);
        e.u.meta.value = copy_string(m.value);
        if (type != LUMBRAKE_EL_META_DOCUMENTWIDE) e.u.meta.pos = m.pos;
        if (type == LUMBRAKE_EL_META_RANGED) e.u.meta.end = m.end;
        out_.push_back(e);
    }

    std::vector<lumbrake_element>& out_;
    std::vector<std::string>& link_urls_;
    const std::vector<FFF::linkscore_t>* links_ = nullptr;
};

} // namespace

void flatten_document(const FFF::DocumentData& document, const std::string& docid,
                      const std::string& url, const std::string& mimetype,
                      std::vector<lumbrake_element>& elements,
                      std::vector<std::string>& link_urls) {
    free_elements(elements);
    link_urls.clear();
    lumbrake_element info = make_element(LUMBRAKE_EL_DOCINFO);
    info.u.docinfo.docid = copy_string(docid);
    info.u.docinfo.url = copy_string(url);
    info.u.docinfo.mimetype = copy_string(mimetype);
    info.u.docinfo.score = fraction_from_score(document.score);
    elements.push_back(info);
    flattener f(elements, link_urls);
    document.accept_const(f, 0);
}

// ---- rebuilding ----

namespace {

class rebuilder {
public:
    explicit rebuilder(FFF::DocumentData& root) : root_(root) {
        contents_ = new FFF::Contents(true);
        root_.add_child(contents_);
        stack_ = {&root_, contents_};
    }

    bool run(const std::vector<lumbrake_element>& elements) {
        for (const lumbrake_element& e : elements) {
            switch (e.type) {
            case LUMBRAKE_EL_DOCINFO:
                root_.score = score_from_fraction(e.u.docinfo.score);
                break;
            case LUMBRAKE_EL_LINKINFO:
                if (e.u.linkinfo.url)
                    root_.add_link(e.u.linkinfo.url, score_from_fraction(e.u.linkinfo.score));
                break;
            case LUMBRAKE_EL_PARA_BEG:
                para_beg();
                break;
            case LUMBRAKE_EL_PARA_END:
                end(paras_, "Ignoring unbalanced para_end from plugin");
                break;
            case LUMBRAKE_EL_DICT_BEG:
                dict_beg(e);
                break;
            case LUMBRAKE_EL_DICT_END:
                end(runs_, "Ignoring unbalanced dict_end from plugin");
                break;
            case LUMBRAKE_EL_WORDBUF:
                wordbuf(e);
                break;
            case LUMBRAKE_EL_META_DOCUMENTWIDE:
            case LUMBRAKE_EL_META_POSITIONAL:
            case LUMBRAKE_EL_META_RANGED:
                meta(e);
                break;
            default:
                break; // types the rebuild does not know are skipped
            }
        }
        return ok_;
    }

private:
    // The node on top of the stack as a parent, or null (logged) when it holds no children.
    FFF::tXMLParentTree* parent_on_top() {
        auto* parent = dynamic_cast<FFF::tXMLParentTree*>(stack_.back());
        if (!parent) {
            ok_ = false;
            TN_LOG(LF_PLUGINSYSTEM, LL_ERROR, "Ignoring malformed element from plugin");
        }
        return parent;
    }

    void para_beg() {
        // Each open begin remembers the node it pushed (null when it pushed none), so that
        // its end pops that node and nothing else.
        paras_.push_back(nullptr);
        if (paras_.size() > 1) {
            TN_LOG(LF_PLUGINSYSTEM, LL_ERROR, "Ignoring nested para_beg from plugin");
            return;
        }
        FFF::tXMLParentTree* parent = parent_on_top();
        if (!parent) return;
        auto* p = new FFF::P;
        parent->add_child(p);
        stack_.push_back(p);
        paras_.back() = p;
    }

    void dict_beg(const lumbrake_element& e) {
        runs_.push_back(nullptr);
        if (runs_.size() > 1) {
            TN_LOG(LF_PLUGINSYSTEM, LL_ERROR, "Ignoring nested dict_beg from plugin");
            return;
        }
        if (paras_.empty()) {
            TN_LOG(LF_PLUGINSYSTEM, LL_ERROR, "Ignoring dict_beg outside of para from plugin");
            return;
        }
        FFF::tXMLParentTree* parent = parent_on_top();
        if (!parent) return;
        std::int32_t slice = e.u.dict_beg.slice;
        auto* low = new FFF::Low(slice >= 1 && slice <= 31 ? slice : FFF::invisibleDict);
        if (FFF::is_link_slice(low->dictid) && e.u.dict_beg.url) {
            auto known = root_.linkids_.find(e.u.dict_beg.url);
            if (known != root_.linkids_.end())
                low->urlid = known->second;
            else
                low->urlid = root_.add_link(e.u.dict_beg.url,
                                            std::min<std::uint32_t>(root_.score + 1, full_score));
        }
        parent->add_child(low);
        stack_.push_back(low);
        runs_.back() = low;
    }

    void end(std::vector<FFF::tXMLTree*>& open, const char* unbalanced) {
        if (open.empty()) {
            TN_LOG(LF_PLUGINSYSTEM, LL_ERROR, unbalanced);
            return;
        }
        FFF::tXMLTree* node = open.back();
        open.pop_back();
        if (!node) return; // its begin was ignored
        auto at = std::find(stack_.begin() + 2, stack_.end(), node);
        if (at == stack_.end()) {
            ok_ = false;
            TN_LOG(LF_PLUGINSYSTEM, LL_ERROR, "Ignoring malformed element end from plugin");
            return;
        }
        // A paragraph that ends inside an open run closes the run with it.
        for (auto it = at; it != stack_.end(); ++it)
            if (!runs_.empty() && std::find(runs_.begin(), runs_.end(), *it) != runs_.end())
                runs_.clear();
        stack_.erase(at, stack_.end());
    }

    void wordbuf(const lumbrake_element& e) {
        auto* low = dynamic_cast<FFF::Low*>(stack_.back());
        if (!low) {
            ok_ = false;
            TN_LOG(LF_PLUGINSYSTEM, LL_ERROR, "Ignoring malformed words element from plugin");
            return;
        }
        const char* buffer = e.u.wordbuf.words;
        if (!buffer) return;
        // Only the buffer's length is trusted: a last word without its NUL ends there.
        std::size_t length = e.u.wordbuf.length, i = 0;
        std::string folded;
        while (i < length) {
            const void* nul = std::memchr(buffer + i, 0, length - i);
            std::size_t end = nul ? static_cast<const char*>(nul) - buffer : length;
            std::string_view word(buffer + i, end - i);
            bool valid = true;
            utf8_case_fold(word, folded, valid);
            if (valid)
                low->words.emplace_back(word);
            else
                TN_LOG(LF_PLUGINSYSTEM, LL_ERROR,
                       "Ignoring malformed word '" << word << "' from plugin");
            i = end + 1;
        }
    }

    void meta(const lumbrake_element& e) {
        if (!e.u.meta.key || !e.u.meta.value) return;
        FFF::meta m;
        bool valid = true;
        utf8_case_fold(e.u.meta.key, m.key, valid);
        if (!valid) {
            TN_LOG(LF_PLUGINSYSTEM, LL_ERROR,
                   "Ignoring malformed meta k='" << e.u.meta.key << "' from plugin");
            return;
        }
        utf8_case_fold(e.u.meta.value, m.value, valid);
        if (!valid) {
            TN_LOG(LF_PLUGINSYSTEM, LL_ERROR,
                   "Ignoring malformed meta k='" << e.u.meta.key << "' v='" << e.u.meta.value
                                                 << "' from plugin");
            return;
        }
        m.dictid = e.u.meta.slice;
        if (e.type == LUMBRAKE_EL_META_DOCUMENTWIDE) {
            m.type = FFF::meta_documentwide;
        } else if (e.type == LUMBRAKE_EL_META_POSITIONAL) {
            m.type = FFF::meta_positional;
            m.pos = e.u.meta.pos;
        } else {
            m.type = FFF::meta_ranged;
            m.pos = e.u.meta.pos;
            m.end = e.u.meta.end;
        }
        contents_->metas.push_back(std::move(m));
    }

    FFF::DocumentData& root_;
    FFF::Contents* contents_;
    std::vector<FFF::tXMLTree*> stack_;
    std::vector<FFF::tXMLTree*> paras_; // open para_beg elements, innermost last
    std::vector<FFF::tXMLTree*> runs_;  // open dict_beg elements
    bool ok_ = true;
};

} // namespace

bool rebuild_document(const std::vector<lumbrake_element>& elements, FFF::DocumentData& root) {
    rebuilder r(root);
    return r.run(elements);
}

// ---- the element-stream entries of the services table ----

namespace {

fff_plugins_loader* loader_of(lumbrake_plugins_api* api) {
    return api ? static_cast<fff_plugins_loader*>(api->host) : nullptr;
}

std::vector<lumbrake_element>* stream_of(lumbrake_plugins_api* api) {
    fff_plugins_loader* loader = loader_of(api);
    return loader ? &loader->elements() : nullptr;
}

void log_error(const char* text) {
    TN_LOG(LF_PLUGINSYSTEM, LL_ERROR, text);
}

// Inserts a deep copy of the element at index.
int insert_copy(std::vector<lumbrake_element>& stream, std::size_t index,
                const lumbrake_element& element) {
    lumbrake_element copy;
    if (!element_copy(copy, element)) return 0;
    try {
        stream.insert(stream.begin() + static_cast<std::ptrdiff_t>(index), copy);
    } catch (...) {
        element_free_contents(copy);
        return 0;
    }
    return 1;
}

int insert_at(lumbrake_plugins_api* api, uint32_t pos, const lumbrake_element* element,
              bool after) {
    try {
        std::vector<lumbrake_element>* stream = stream_of(api);
        if (!stream || !element) {
            log_error("Bad element from plugin");
            return 0;
        }
        if (element->type == LUMBRAKE_EL_DOCINFO || is_structure_type(element->type)) {
            log_error("Bad element type from plugin");
            return 0;
        }
        if (pos >= stream->size()) {
            log_error("Bad pos from plugin");
            return 0;
        }
        return insert_copy(*stream, after ? std::size_t(pos) + 1 : pos, *element);
    } catch (...) {
        return 0;
    }
}

extern "C" {

uint32_t el_count(lumbrake_plugins_api* api) {
    std::vector<lumbrake_element>* stream = stream_of(api);
    if (!stream) return 0;
    return static_cast<uint32_t>(std::min<std::size_t>(stream->size(), UINT32_MAX));
}

lumbrake_element* el_get(lumbrake_plugins_api* api, uint32_t pos) {
    try {
        std::vector<lumbrake_element>* stream = stream_of(api);
        if (!stream || pos >= stream->size()) {
            log_error("Bad pos from plugin");
            return nullptr;
        }
        return &(*stream)[pos];
    } catch (...) {
        return nullptr;
    }
}

lumbrake_element* el_new(lumbrake_plugins_api*, uint32_t type) {
    auto* e = static_cast<lumbrake_element*>(std::malloc(sizeof(lumbrake_element)));
    if (e) *e = make_element(type);
    return e;
}

int el_init(lumbrake_plugins_api*, uint32_t type, lumbrake_element* element) {
    if (!element) {
        log_error("Bad element from plugin");
        return 0;
    }
    *element = make_element(type);
    return 1;
}

void el_copy(lumbrake_plugins_api*, lumbrake_element* destination, const lumbrake_element* source) {
    if (!destination || !source) {
        log_error("Bad element from plugin");
        return;
    }
    if (!element_copy(*destination, *source)) *destination = make_element(source->type);
}

void el_free(lumbrake_plugins_api*, lumbrake_element* element) {
    if (element) element_free_contents(*element);
}

int el_replace(lumbrake_plugins_api* api, uint32_t pos, const lumbrake_element* element) {
    try {
        std::vector<lumbrake_element>* stream = stream_of(api);
        if (!stream || !element) {
            log_error("Bad element from plugin");
            return 0;
        }
        if (is_structure_type(element->type) || is_meta_type(element->type)) {
            log_error("Bad element type from plugin");
            return 0;
        }
        if (pos >= stream->size()) {
            log_error("Bad pos from plugin");
            return 0;
        }
        lumbrake_element& old = (*stream)[pos];
        if (old.type != LUMBRAKE_EL_DOCINFO) {
            log_error("Bad element type from plugin");
            return 0;
        }
        lumbrake_element copy;
        if (!element_copy(copy, *element)) return 0;
        element_free_contents(old);
        old = copy;
        return 1;
    } catch (...) {
        return 0;
    }
}

int el_insert_before(lumbrake_plugins_api* api, uint32_t pos, const lumbrake_element* element) {
    return insert_at(api, pos, element, false);
}

int el_insert_after(lumbrake_plugins_api* api, uint32_t pos, const lumbrake_element* element) {
    return insert_at(api, pos, element, true);
}

int el_bad_operation(lumbrake_plugins_api*) {
    log_error("Bad operation from plugin");
    return 0;
}

} // extern "C"

} // namespace

void fill_element_services(lumbrake_plugins_api& api) {
    api.count = el_count;
    api.get = el_get;
    api.new_element = el_new;
    api.init_element = el_init;
    api.copy_element = el_copy;
    api.free_element = el_free;
    api.replace = el_replace;
    api.insert_before = el_insert_before;
    api.insert_after = el_insert_after;
    api.bad_operation = el_bad_operation;
}

// ---- fff_plugins_loader ----

fff_plugins_loader::fff_plugins_loader(bool flag, const config& cfg)
    : pipelined_plugins_loader_base(flag, cfg) {}

fff_plugins_loader::~fff_plugins_loader() {
    clear_elements();
    // The base destructor still calls into plug-ins (config_destroy, unregister): the stream
    // entries must not reach this object's members from there.
    if (api_) api_->host = nullptr;
}

void fff_plugins_loader::clear_elements() {
    free_elements(elements_);
    link_urls_.clear();
}

void fff_plugins_loader::fill_api() {
    plugins_loader_base::fill_api();
    fill_text_services(*api_);
    api_->host = this;
}

bool fff_plugins_loader::accepts_type(int type) const {
    return type == LUMBRAKE_PLUGIN_GLOBALFFF || type == LUMBRAKE_PLUGIN_ARCHIVEFFF ||
           type == LUMBRAKE_PLUGIN_MULTIFORMFFF;
}

bool fff_plugins_loader::check_regdata(const plugin_entry& entry) const {
    return pipelined_plugins_loader_base::check_regdata(entry) && entry.regdata.fff_entry;
}

bool fff_plugins_loader::apply_index_plugins(const std::vector<int>& pipeline,
                                             const std::string& docid, const std::string& url,
                                             const std::string& mimetype,
                                             FFF::DocumentData*& document) {
    if (pipeline.empty() || !document) return true;
    TN_LOG(LF_PLUGINSYSTEM, LL_DEBUG, "Applying index plugins");
    flatten_document(*document, docid, url, mimetype, elements_, link_urls_);
    if (!api_) api_ = std::make_unique<lumbrake_plugins_api>();
    fill_api();
    fill_element_services(*api_);

    for (int id : pipeline) {
        if (!has_docfilter(id)) continue;
        auto df = docfilters_.find(id);
        if (df == docfilters_.end()) {
            TN_LOG(LF_PLUGINSYSTEM, LL_ERROR,
                   "Unknown plugincfg " << id << " in document pipeline");
            continue;
        }
        int plugin_id = df->second.plugin_id;
        if (!has_plugin(plugin_id)) continue;
        auto p = plugins_.find(plugin_id);
        if (p == plugins_.end() || !p->second.ok || !p->second.regdata.fff_entry) {
            TN_LOG(LF_PLUGINSYSTEM, LL_ERROR,
                   "Unknown plugin " << plugin_id << " in plugincfg " << id
                                     << " in document pipeline");
            continue;
        }
        TN_LOG(LF_PLUGINSYSTEM, LL_BORING, "Applying plugincfg " << id);
        int result = -1;
        try {
            result = p->second.regdata.fff_entry(api_.get(), &p->second.regdata, df->second.config);
        } catch (...) {
            TN_LOG(LF_PLUGINSYSTEM, LL_ERROR, "Exception from plugin in plugincfg " << id);
        }
        TN_LOG(LF_PLUGINSYSTEM, LL_BORING, "Applied plugincfg " << id << " returns " << result);
    }

    delete document;
    document = new FFF::DocumentData(true);
    rebuild_document(elements_, *document);
    clear_elements();
    return true;
}

} // namespace lumbrake
