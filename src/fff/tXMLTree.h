// Typed node trees with a compact binary form, the base of the FFF document model.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace FFF {

struct kindTable;

// A node. Derivations are virtual so that tXMLTree occurs once in every node; code holds nodes
// as tXMLTree* and recovers their class with dynamic_cast.
class tXMLTree {
public:
    // Appends to an output byte string.
    class writer {
    public:
        explicit writer(std::string& out) : out_(&out) {}
        void write_u32(std::uint32_t value);
        void write_u16(std::uint16_t value);
        void write_i32(std::int32_t value) { write_u32(static_cast<std::uint32_t>(value)); }
        void write_string(std::string_view bytes);
        std::string& output() { return *out_; }

    private:
        std::string* out_;
    };

    // Reads from a byte range it does not own; never reads past its end.
    class reader {
    public:
        reader(const std::string& in, const kindTable& table)
            : data_(in.data()), size_(in.size()), table_(&table) {}
        reader(const void* data, std::size_t size, const kindTable& table)
            : data_(static_cast<const char*>(data)), size_(size), table_(&table) {}

        // On failure these return false and leave the position unchanged.
        bool read_u32(std::uint32_t& value);
        bool read_u16(std::uint16_t& value);
        // Empties s first; false when the length is unreadable or runs past the end (then
        // the position stays just past the length).
        bool read_string(std::string& s);

        std::size_t position() const { return pos_; }
        std::size_t size() const { return size_; }
        std::size_t remaining() const { return size_ - pos_; }
        const kindTable& table() const { return *table_; }

        // Nesting depth of read_node calls in progress (bounds recursion on corrupt input).
        int depth = 0;

    private:
        const char* data_;
        std::size_t size_;
        std::size_t pos_ = 0;
        const kindTable* table_;
    };

    // A walk: visit(node, depth, false) on entering, visit(node, depth, true) on leaving.
    class visitor {
    public:
        virtual ~visitor() = default;
        virtual void visit(const tXMLTree* node, int depth, bool leaving) = 0;
    };

    tXMLTree() = default;
    tXMLTree(const tXMLTree&) = delete;
    tXMLTree& operator=(const tXMLTree&) = delete;

    // The node's own form; its kind id is written by its parent.
    virtual void write_binary(writer& w) const = 0;
    // status: 0 nothing read, 1 read in part, 2 complete. False: the node must be discarded.
    virtual bool read_binary(reader& r, int& status) = 0;
    virtual ~tXMLTree() = default;
    virtual int kind_id() const = 0;
    virtual const char* tag_name() const = 0;
    // Pre-order walk with entering and leaving calls; children at depth + 1.
    virtual void accept(visitor& v, int depth);
    virtual void accept_const(visitor& v, int depth) const;
};

// A node with owned children in document order.
class tXMLParentTree : public virtual tXMLTree {
public:
    tXMLParentTree() = default;
    ~tXMLParentTree() override;

    void write_binary(writer& w) const override;
    bool read_binary(reader& r, int& status) override;

    // Takes ownership of child, also when appending it fails.
    void add_child(tXMLTree* child) {
        try {
            children.push_back(child);
        } catch (...) {
            delete child;
            throw;
        }
    }

    std::vector<tXMLTree*> children;
};

using kind_factory = tXMLTree* (*)();

struct kindTable {
    int number = 100;
    std::map<int, kind_factory> map;
};

// Enters create under kindID; registering an id again with another factory is an assertion.
void register_kind(kindTable& table, int kindID, kind_factory create);

// The FFF kind table (number 100, kinds 0 to 6), filled once in a thread-safe way.
kindTable& get_kind_table();

// Deepest node nesting a reader accepts; a deeper node is a failed child.
inline constexpr int max_read_depth = 64;

// Reads a kind id and that node; null when the node must be discarded.
tXMLTree* read_node(tXMLTree::reader& r, int& status);

// Reads a whole stream (number 100, root kind id, root form). The caller owns the result and
// must check status 2 and the root's class itself.
tXMLTree* FromBinary(tXMLTree::reader& r, int& status);

// Whole stream: replaces out with number 100, the root's kind id and the root's form.
void ToBinary(const tXMLTree& root, std::string& out);

} // namespace FFF
