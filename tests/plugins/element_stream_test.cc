#include "api/api-types.h"
#include "plugin-system/element_stream.h"
#include "plugin-system/plugins_loader.h"
#include "fff/FFF.h"

#include "plugin_test_support.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

using namespace lumbrake;
using plugin_test::log_capture;
using plugin_test::make_deployment;

namespace {

FFF::Low* run(FFF::tXMLParentTree& parent, int slice, std::vector<std::string> words,
              int urlid = 0) {
    auto* low = new FFF::Low(slice);
    low->urlid = urlid;
    low->words = std::move(words);
    parent.add_child(low);
    return low;
}

// A document as the builder makes one: root, contents, paragraphs of sentences of runs.
std::unique_ptr<FFF::DocumentData> sample_document() {
    auto doc = std::make_unique<FFF::DocumentData>(true);
    doc->score = 1000000;
    doc->add_link("http://a.example/", 250000);
    auto* contents = new FFF::Contents(true);
    doc->add_child(contents);
    contents->metas.push_back({FFF::meta_documentwide, 15, "lang", "en", 0, 0});
    contents->metas.push_back({FFF::meta_positional, 2, "anchor", "x", 7, 0});
    contents->metas.push_back({FFF::meta_ranged, 3, "range", "y", 2, 5});
    auto* p = new FFF::P;
    contents->add_child(p);
    auto* s = new FFF::S;
    p->add_child(s);
    run(*s, FFF::centralNormDict, {"Hello", "world"});
    run(*s, FFF::marginalLinkDict, {"link"}, 0);
    run(*s, FFF::centralLinkDict, {"dangling"}, 5); // no link 5
    return doc;
}

std::vector<std::uint32_t> types_of(const std::vector<lumbrake_element>& elements) {
    std::vector<std::uint32_t> out;
    for (const lumbrake_element& e : elements)
        out.push_back(e.type);
    return out;
}

lumbrake_element element(std::uint32_t type) {
    lumbrake_element e;
    std::memset(&e, 0, sizeof e);
    e.type = type;
    return e;
}

lumbrake_element words_element(const std::string& bytes) {
    lumbrake_element e = element(LUMBRAKE_EL_WORDBUF);
    // Exactly the buffer's length: a scan past it is an out-of-bounds read.
    e.u.wordbuf.words = static_cast<char*>(std::malloc(bytes.size()));
    std::memcpy(e.u.wordbuf.words, bytes.data(), bytes.size());
    e.u.wordbuf.length = static_cast<std::uint32_t>(bytes.size());
    return e;
}

lumbrake_element dict_element(int slice, const char* url = nullptr) {
    lumbrake_element e = element(LUMBRAKE_EL_DICT_BEG);
    e.u.dict_beg.slice = slice;
    e.u.dict_beg.url = url ? strdup(url) : nullptr;
    return e;
}

lumbrake_element meta_element(std::uint32_t type, const char* key, const char* value) {
    lumbrake_element e = element(type);
    e.u.meta.slice = 15;
    e.u.meta.key = key ? strdup(key) : nullptr;
    e.u.meta.value = value ? strdup(value) : nullptr;
    return e;
}

lumbrake_element docinfo_element(double score) {
    lumbrake_element e = element(LUMBRAKE_EL_DOCINFO);
    e.u.docinfo.score = score;
    return e;
}

// The runs of the rebuilt document, as "slice:word word" per run, paragraphs separated by "|".
std::string shape(const FFF::DocumentData& doc) {
    std::string out;
    const auto* contents = dynamic_cast<const FFF::Contents*>(doc.children.at(0));
    for (const FFF::tXMLTree* p : contents->children) {
        out += "|";
        const auto* para = dynamic_cast<const FFF::P*>(p);
        if (!para) {
            out += "?";
            continue;
        }
        for (const FFF::tXMLTree* r : para->children) {
            const auto* low = dynamic_cast<const FFF::Low*>(r);
            out += "[" + std::to_string(low->dictid) + ":";
            for (std::size_t i = 0; i < low->words.size(); ++i)
                out += (i ? " " : "") + low->words[i];
            out += "]";
        }
    }
    return out;
}

struct rebuilt {
    std::unique_ptr<FFF::DocumentData> doc;
    bool ok;
};

rebuilt rebuild(std::vector<lumbrake_element> elements) {
    rebuilt r{std::make_unique<FFF::DocumentData>(true), false};
    r.ok = rebuild_document(elements, *r.doc);
    free_elements(elements);
    return r;
}

} // namespace

TEST(ElementStream, LayoutOfTheElement) {
    // The offsets of a 32-bit build follow the same order; on LP64 the pointers widen.
    EXPECT_EQ(sizeof(lumbrake_element), sizeof(void*) == 8 ? 48u : 32u);
    EXPECT_EQ(offsetof(lumbrake_element, u), 8u);
    EXPECT_EQ(sizeof(lumbrake_plugins_api), 22 * sizeof(void*));
    EXPECT_EQ(sizeof(lumbrake_plugin_regdata), 7 * sizeof(void*));
}

TEST(ElementStream, ScoresConvert) {
    EXPECT_EQ(fraction_from_score(0), 0.0);
    EXPECT_EQ(fraction_from_score(1000000), 1.0);
    EXPECT_EQ(fraction_from_score(4000000), 1.0);
    EXPECT_DOUBLE_EQ(fraction_from_score(250000), 0.25);
    struct {
        double fraction;
        std::uint32_t score;
    } cases[] = {{2.5, 1000000},
                 {1.0, 1000000},
                 {0.5, 500000},
                 {0.0, 0},
                 {-3, 0},
                 {std::nan(""), 0},
                 {std::numeric_limits<double>::infinity(), 1000000},
                 {-std::numeric_limits<double>::infinity(), 0}};
    for (const auto& c : cases)
        EXPECT_EQ(score_from_fraction(c.fraction), c.score) << c.fraction;
}

TEST(ElementStream, FlattensInWalkOrder) {
    auto doc = sample_document();
    std::vector<lumbrake_element> elements;
    std::vector<std::string> links;
    log_capture log;
    flatten_document(*doc, "doc-1", "http://x/", "text/html", elements, links);

    EXPECT_EQ(types_of(elements),
              (std::vector<std::uint32_t>{2, 4, 12, 14, 16, 6, 8, 10, 9, 8, 10, 9, 8, 10, 9, 7}));
    EXPECT_STREQ(elements[0].u.docinfo.docid, "doc-1");
    EXPECT_STREQ(elements[0].u.docinfo.url, "http://x/");
    EXPECT_STREQ(elements[0].u.docinfo.mimetype, "text/html");
    EXPECT_EQ(elements[0].u.docinfo.score, 1.0);
    EXPECT_STREQ(elements[1].u.linkinfo.url, "http://a.example/");
    EXPECT_DOUBLE_EQ(elements[1].u.linkinfo.score, 0.25);
    EXPECT_EQ(links, std::vector<std::string>{"http://a.example/"});
    EXPECT_EQ(elements[3].u.meta.pos, 7u);
    EXPECT_EQ(elements[4].u.meta.pos, 2u);
    EXPECT_EQ(elements[4].u.meta.end, 5u);
    EXPECT_EQ(elements[4].u.meta.slice, 3);

    EXPECT_EQ(elements[6].u.dict_beg.slice, 10);
    EXPECT_EQ(elements[6].u.dict_beg.url, nullptr);
    ASSERT_EQ(elements[7].u.wordbuf.length, 12u);
    EXPECT_EQ(std::string(elements[7].u.wordbuf.words, 12), std::string("Hello\0world\0", 12));
    EXPECT_STREQ(elements[9].u.dict_beg.url, "http://a.example/");
    EXPECT_EQ(elements[12].u.dict_beg.slice, 12);
    EXPECT_EQ(elements[12].u.dict_beg.url, nullptr); // link id 5 is not below the link count
    EXPECT_TRUE(log.errors().empty());
    free_elements(elements);
}

TEST(ElementStream, RoundTripKeepsContent) {
    auto doc = sample_document();
    std::vector<lumbrake_element> elements;
    std::vector<std::string> links;
    flatten_document(*doc, "d", "u", "m", elements, links);
    rebuilt r = rebuild(std::move(elements));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.doc->score, 1000000u);
    ASSERT_EQ(r.doc->linkscores_.size(), 1u);
    EXPECT_EQ(r.doc->linkscores_[0].score, 250000u);
    EXPECT_EQ(shape(*r.doc), "|[10:Hello world][7:link][12:dangling]");
    const auto* contents = dynamic_cast<const FFF::Contents*>(r.doc->children.at(0));
    ASSERT_EQ(contents->metas.size(), 3u);
    EXPECT_EQ(contents->metas[0], (FFF::meta{FFF::meta_documentwide, 15, "lang", "en", 0, 0}));
    EXPECT_EQ(contents->metas[1], (FFF::meta{FFF::meta_positional, 2, "anchor", "x", 7, 0}));
    EXPECT_EQ(contents->metas[2], (FFF::meta{FFF::meta_ranged, 3, "range", "y", 2, 5}));
    const auto* para = dynamic_cast<const FFF::P*>(contents->children.at(0));
    EXPECT_EQ(dynamic_cast<const FFF::Low*>(para->children.at(1))->urlid, 0);
}

TEST(ElementStream, RebuildRules) {
    using E = std::vector<lumbrake_element>;
    auto P = [] { return element(LUMBRAKE_EL_PARA_BEG); };
    auto Pe = [] { return element(LUMBRAKE_EL_PARA_END); };
    auto De = [] { return element(LUMBRAKE_EL_DICT_END); };
    struct rule_case {
        const char* what;
        E elements;
        const char* shape;
        bool ok;
        const char* message; // an ERROR expected, or ""
    };
    std::vector<rule_case> cases;
    cases.push_back(
        {"two para_beg in a row give one paragraph",
         E{P(), P(), dict_element(10), words_element(std::string("a\0", 2)), De(), Pe(), Pe(), P(),
           dict_element(10), words_element(std::string("b\0", 2)), De(), Pe()},
         "|[10:a]|[10:b]", true, "Ignoring nested para_beg from plugin"});
    cases.push_back({"a dict_beg before any para_beg creates no run",
                     E{dict_element(10), words_element(std::string("a\0", 2)), De(), P(),
                       dict_element(10), words_element(std::string("b\0", 2)), De(), Pe()},
                     "|[10:b]", false, "Ignoring dict_beg outside of para from plugin"});
    cases.push_back({"unbalanced ends", E{Pe(), De(), P(), Pe()}, "|", true,
                     "Ignoring unbalanced para_end from plugin"});
    cases.push_back({"nested dict_beg",
                     E{P(), dict_element(10), dict_element(11),
                       words_element(std::string("a\0", 2)), De(), De(), Pe()},
                     "|[10:a]", true, "Ignoring nested dict_beg from plugin"});
    cases.push_back({"a paragraph end closes its open run",
                     E{P(), dict_element(10), Pe(), De(), P(), dict_element(10),
                       words_element(std::string("c\0", 2)), De(), Pe()},
                     "|[10:]|[10:c]", true, "Ignoring unbalanced dict_end from plugin"});
    cases.push_back({"words outside a run", E{P(), words_element(std::string("a\0", 2)), Pe()}, "|",
                     false, "Ignoring malformed words element from plugin"});
    cases.push_back(
        {"the word scan stops at the buffer's length",
         E{P(), dict_element(10), words_element(std::string("one\0\xff\0three", 11)), De(), Pe()},
         "|[10:one three]", true, "Ignoring malformed word '\xff' from plugin"});
    cases.push_back(
        {"slices out of range become 4",
         E{P(), dict_element(0), De(), dict_element(32), De(), dict_element(31), De(), Pe()},
         "|[4:][4:][31:]", true, ""});
    cases.push_back({"unknown element types are skipped",
                     E{element(0), element(3), element(0xFFFFFFFF), P(), element(11), Pe()}, "|",
                     true, ""});

    for (rule_case& c : cases) {
        log_capture log;
        rebuilt r = rebuild(std::move(c.elements));
        EXPECT_EQ(shape(*r.doc), c.shape) << c.what;
        EXPECT_EQ(r.ok, c.ok) << c.what;
        if (*c.message)
            EXPECT_EQ(log.count(c.message), 1) << c.what << "\n" << log.text();
        else
            EXPECT_TRUE(log.errors().empty()) << c.what << "\n" << log.text();
    }
}

TEST(ElementStream, RebuildScoresLinksAndMetas) {
    log_capture log;
    std::vector<lumbrake_element> elements;
    elements.push_back(docinfo_element(0.5));
    lumbrake_element link = element(LUMBRAKE_EL_LINKINFO);
    link.u.linkinfo.url = strdup("http://known/");
    link.u.linkinfo.score = 0.125;
    elements.push_back(link);
    elements.push_back(element(LUMBRAKE_EL_LINKINFO)); // no URL: nothing added
    elements.push_back(element(LUMBRAKE_EL_PARA_BEG));
    elements.push_back(dict_element(7, "http://new/"));
    elements.push_back(element(LUMBRAKE_EL_DICT_END));
    elements.push_back(dict_element(12, "http://known/"));
    elements.push_back(element(LUMBRAKE_EL_DICT_END));
    elements.push_back(dict_element(10, "http://ignored/")); // not a link slice
    elements.push_back(element(LUMBRAKE_EL_DICT_END));
    elements.push_back(element(LUMBRAKE_EL_PARA_END));
    elements.push_back(meta_element(LUMBRAKE_EL_META_DOCUMENTWIDE, "Lang", "EN"));
    elements.push_back(meta_element(LUMBRAKE_EL_META_DOCUMENTWIDE, nullptr, "v"));
    elements.push_back(meta_element(LUMBRAKE_EL_META_DOCUMENTWIDE, "bad\xff", "v"));
    elements.push_back(meta_element(LUMBRAKE_EL_META_RANGED, "k", "bad\xc3"));
    rebuilt r = rebuild(std::move(elements));

    EXPECT_EQ(r.doc->score, 500000u);
    ASSERT_EQ(r.doc->linkscores_.size(), 2u);
    EXPECT_EQ(r.doc->linkscores_[0].url, "http://known/");
    EXPECT_EQ(r.doc->linkscores_[0].score, 125000u);
    EXPECT_EQ(r.doc->linkscores_[1].url, "http://new/");
    EXPECT_EQ(r.doc->linkscores_[1].score, 500001u); // the root score + 1
    const auto* contents = dynamic_cast<const FFF::Contents*>(r.doc->children.at(0));
    const auto* para = dynamic_cast<const FFF::P*>(contents->children.at(0));
    EXPECT_EQ(dynamic_cast<const FFF::Low*>(para->children.at(0))->urlid, 1);
    EXPECT_EQ(dynamic_cast<const FFF::Low*>(para->children.at(1))->urlid, 0);
    ASSERT_EQ(contents->metas.size(), 1u);
    EXPECT_EQ(contents->metas[0], (FFF::meta{FFF::meta_documentwide, 15, "lang", "en", 0, 0}));
    EXPECT_TRUE(log.has("Ignoring malformed meta k='bad\xff' from plugin"));
    EXPECT_TRUE(log.has("Ignoring malformed meta k='k' v='bad\xc3' from plugin"));
}

TEST(ElementStream, CopyAndFreeOwnTheirStrings) {
    lumbrake_element src = words_element(std::string("ab\0", 3));
    lumbrake_element dst;
    ASSERT_TRUE(element_copy(dst, src));
    EXPECT_NE(dst.u.wordbuf.words, src.u.wordbuf.words);
    EXPECT_EQ(std::string(dst.u.wordbuf.words, 3), std::string("ab\0", 3));
    element_free_contents(src);
    element_free_contents(dst);
    EXPECT_EQ(dst.u.wordbuf.words, nullptr);

    lumbrake_element meta = meta_element(LUMBRAKE_EL_META_RANGED, "k", "v");
    meta.u.meta.unused = 99;
    meta.u.meta.pos = 3;
    meta.u.meta.end = 4;
    ASSERT_TRUE(element_copy(dst, meta));
    EXPECT_EQ(dst.u.meta.unused, 0u);
    EXPECT_EQ(dst.u.meta.pos, 3u);
    EXPECT_EQ(dst.u.meta.end, 4u);
    EXPECT_STREQ(dst.u.meta.key, "k");
    EXPECT_NE(dst.u.meta.key, meta.u.meta.key);
    element_free_contents(meta);
    element_free_contents(dst);
}

// ---- through a real plug-in ----

class IndexPlugin : public testing::Test {
protected:
    void SetUp() override {
        cfg_ =
            std::make_unique<config>(make_deployment("index", {{"archive", "archive.so"}}).c_str());
        loader_ = std::make_unique<fff_plugins_loader>(true, *cfg_);
        loader_->load_plugins();
        ASSERT_TRUE(loader_->register_plugin(1, "archive", ""));
    }

    FFF::DocumentData* apply(const std::string& commands, std::vector<int> pipeline = {5}) {
        EXPECT_TRUE(loader_->configure_docfilter(5, 1, commands));
        FFF::DocumentData* doc = sample_document().release();
        EXPECT_TRUE(loader_->apply_index_plugins(pipeline, "doc-1", "http://x/", "text/html", doc));
        docs_.emplace_back(doc);
        return doc;
    }

    std::unique_ptr<config> cfg_;
    std::unique_ptr<fff_plugins_loader> loader_;
    std::vector<std::unique_ptr<FFF::DocumentData>> docs_;
};

TEST_F(IndexPlugin, InsertsMetaAndReplacesScore) {
    log_capture log;
    FFF::DocumentData* doc = apply("types;meta:Topic=Fish;score:0.75");
    EXPECT_TRUE(log.has("Applying index plugins"));
    EXPECT_TRUE(log.has("Applying plugincfg 5"));
    EXPECT_TRUE(log.has("Plugin archive: types 2 4 12 14 16 6 8 10 9 8 10 9 8 10 9 7"));
    EXPECT_TRUE(log.has("Plugin archive: insert_after 1"));
    EXPECT_TRUE(log.has("Plugin archive: replace 1"));
    EXPECT_TRUE(log.has("Applied plugincfg 5 returns 42"));
    EXPECT_TRUE(log.errors().empty()) << log.text();

    EXPECT_EQ(doc->score, 750000u);
    const auto* contents = dynamic_cast<const FFF::Contents*>(doc->children.at(0));
    ASSERT_EQ(contents->metas.size(), 4u);
    EXPECT_EQ(contents->metas[0], (FFF::meta{FFF::meta_documentwide, 15, "topic", "fish", 0, 0}));
    EXPECT_EQ(shape(*doc), "|[10:Hello world][7:link][12:dangling]");
    EXPECT_TRUE(loader_->elements().empty());
}

TEST_F(IndexPlugin, HeaderScoresAreClamped) {
    struct {
        const char* command;
        std::uint32_t score;
    } cases[] = {{"score:2.5", 1000000}, {"score:nan", 0}, {"score:-1", 0}};
    for (const auto& c : cases)
        EXPECT_EQ(apply(c.command)->score, c.score) << c.command;
}

TEST_F(IndexPlugin, BadRequestsAreRefusedAndLeaveTheStream) {
    log_capture log;
    FFF::DocumentData* doc = apply("badpos;badtype;nulls;lastafter;types", {7, 5});
    for (const char* line :
         {"insert_before at count 0", "insert_after at huge 0", "get at count is null 1",
          "replace at count 0", "count unchanged 1", "insert wordbuf 0", "insert docinfo 0",
          "replace with meta 0", "replace non-docinfo 0", "bad_operation 0", "insert null 0",
          "replace null 0", "init null 0", "case_fold null 0", "compare null 0", "normalize null 0",
          "test_chars null 0", "insert_after last 1", "appended 1"})
        EXPECT_TRUE(log.has(std::string("Plugin archive: ") + line)) << line;
    EXPECT_TRUE(log.has("Bad pos from plugin"));
    EXPECT_TRUE(log.has("Bad element type from plugin"));
    EXPECT_TRUE(log.has("Bad operation from plugin"));
    EXPECT_TRUE(log.has("Ignoring unknown docfilter 7"));
    // Only the meta appended at the end got in.
    EXPECT_TRUE(log.has("Plugin archive: types 2 4 12 14 16 6 8 10 9 8 10 9 8 10 9 7 12"));
    const auto* contents = dynamic_cast<const FFF::Contents*>(doc->children.at(0));
    EXPECT_EQ(contents->metas.size(), 4u);
    EXPECT_EQ(shape(*doc), "|[10:Hello world][7:link][12:dangling]");
}

TEST_F(IndexPlugin, EmptyPipelineLeavesTheDocument) {
    auto doc = sample_document();
    FFF::DocumentData* before = doc.get();
    FFF::DocumentData* pointer = before;
    log_capture log;
    EXPECT_TRUE(loader_->apply_index_plugins({}, "d", "u", "m", pointer));
    EXPECT_EQ(pointer, before);
    EXPECT_FALSE(log.has("Applying index plugins"));
}
