#include "fff/tXMLTree.h"

#include <memory>

#include "util/log.h"
#include "fff/math-coding.h"

namespace FFF {

void tXMLTree::writer::write_u32(std::uint32_t value) {
    unsigned char buf[lumbrake::math_max_bytes32];
    const std::size_t n = lumbrake::math_encode(buf, sizeof buf, value);
    TN_ASSERT(n > 0);
    out_->append(reinterpret_cast<const char*>(buf), n);
}

void tXMLTree::writer::write_u16(std::uint16_t value) {
    write_u32(value);
}

void tXMLTree::writer::write_string(std::string_view bytes) {
    write_u32(static_cast<std::uint32_t>(bytes.size()));
    out_->append(bytes.data(), bytes.size());
}

bool tXMLTree::reader::read_u32(std::uint32_t& value) {
    const std::size_t n = lumbrake::math_decode(
        reinterpret_cast<const unsigned char*>(data_) + pos_, size_ - pos_, value);
    pos_ += n;
    return n != 0;
}

bool tXMLTree::reader::read_u16(std::uint16_t& value) {
    const std::size_t n = lumbrake::math_decode16(
        reinterpret_cast<const unsigned char*>(data_) + pos_, size_ - pos_, value);
    pos_ += n;
    return n != 0;
}

bool tXMLTree::reader::read_string(std::string& s) {
    s.clear();
    std::uint32_t length = 0;
    if (!read_u32(length)) return false;
    // A cut string leaves the position past its length, so that a following read fails
    // instead of reading the string's bytes as numbers.
    if (length > size_ - pos_) return false;
    s.assign(data_ + pos_, length);
    pos_ += length;
    return true;
}

namespace {

template <bool Const, typename Node> void walk(Node* node, tXMLTree::visitor& v, int depth) {
    v.visit(node, depth, false);
    if (auto* parent = dynamic_cast<const tXMLParentTree*>(node)) {
        for (tXMLTree* child : parent->children) {
            if (!child) continue;
            if constexpr (Const)
                child->accept_const(v, depth + 1);
            else
                child->accept(v, depth + 1);
        }
    }
    v.visit(node, depth, true);
}

} // namespace

void tXMLTree::accept(visitor& v, int depth) {
    walk<false>(this, v, depth);
}

void tXMLTree::accept_const(visitor& v, int depth) const {
    walk<true>(this, v, depth);
}

tXMLParentTree::~tXMLParentTree() {
    for (tXMLTree* child : children)
        delete child;
}

void tXMLParentTree::write_binary(writer& w) const {
    std::uint32_t count = 0;
    for (const tXMLTree* child : children)
        if (child) ++count;
    w.write_u32(count);
    for (const tXMLTree* child : children) {
        if (!child) continue;
        w.write_i32(child->kind_id());
        child->write_binary(w);
    }
}

bool tXMLParentTree::read_binary(reader& r, int& status) {
    std::uint32_t count = 0;
    if (!r.read_u32(count)) {
        status = 0;
        return true;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        int child_status = 0;
        tXMLTree* child = read_node(r, child_status);
        if (!child) {
            status = 1;
            return false;
        }
        add_child(child);
        if (child_status == 0) {
            status = 1;
            return true;
        }
    }
    status = 2;
    return true;
}

void register_kind(kindTable& kindTable, int kindID, kind_factory create) {
    TN_ASSERT(kindTable.map.find(kindID) == kindTable.map.end() || kindTable.map[kindID] == create);
    kindTable.map[kindID] = create;
}

tXMLTree* read_node(tXMLTree::reader& r, int& status) {
    status = 0;
    std::uint32_t kind = 0;
    if (!r.read_u32(kind)) return nullptr;
    const auto& map = r.table().map;
    const auto it = map.find(static_cast<int>(kind));
    if (kind > 0x7FFFFFFFu || it == map.end()) return nullptr;
    // Real documents nest five deep; a corrupt blob must not exhaust the stack.
    if (r.depth >= max_read_depth) return nullptr;
    std::unique_ptr<tXMLTree> node(it->second());
    ++r.depth;
    const bool ok = node->read_binary(r, status);
    --r.depth;
    if (!ok) return nullptr;
    return node.release();
}

tXMLTree* FromBinary(tXMLTree::reader& r, int& status) {
    status = 0;
    std::uint32_t number = 0;
    if (!r.read_u32(number) || number != static_cast<std::uint32_t>(r.table().number))
        return nullptr;
    return read_node(r, status);
}

void ToBinary(const tXMLTree& root, std::string& out) {
    out.clear();
    tXMLTree::writer w(out);
    w.write_u32(static_cast<std::uint32_t>(get_kind_table().number));
    w.write_i32(root.kind_id());
    root.write_binary(w);
}

} // namespace FFF
