// The password fields of the frames ORQExtClient exchanges through
// XSR_CommandEx: the node records of a cluster add (command 11, request body)
// and of the cluster description (command 13, answer). The recorder masks
// them before a record is written; the replay matches a cluster add without
// them. The login record's password is a field of its own (XSR_OpenConn).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace xsrtrace {

constexpr char kMaskByte = '*';

// Reads one of the two layouts a byte at a time, so that an answer that
// comes in parts (pending, then polls) is read across its calls. Bytes past
// the end of the layout, or after a count that makes no sense, are no
// password.
class PasswordFields {
public:
    enum class Layout {
        ClusterAdd,          // int32 mode; mode 1: name, tag, NUL, int32 count, nodes
        ClusterDescription,  // int32 serial, int32 count, clusters with their nodes
    };
    explicit PasswordFields(Layout layout);
    // Takes the next byte; true when it is a byte of a password (not its NUL).
    bool next(unsigned char b);
    // Replaces the password bytes of the next n bytes by kMaskByte.
    void mask(char* p, std::size_t n);
    bool done() const { return step_ == Step::Done; }

private:
    enum class Step {
        AddMode, AddName, AddTag, AddNul, Serial, ClusterCount, Name, Tag, AttrA, AttrB, NodeCount,
        Server, Port, User, Pass, Attr, Done
    };
    void after_int(int32_t v);
    void after_string();
    void end_cluster();
    Step step_;
    bool add_;
    unsigned char acc_[4] = {};
    int got_ = 0;
    int32_t clusters_left_ = 0, nodes_left_ = 0;
};

// The body of a cluster add with its passwords masked (each byte kMaskByte:
// lengths stay as they travelled).
void mask_cluster_add(std::string* body);
// The body of a cluster add without its password bytes: equal for two adds
// that differ only in their passwords.
std::string cluster_add_without_passwords(const std::string& body);

}  // namespace xsrtrace
