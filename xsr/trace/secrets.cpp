#include "xsr/trace/secrets.h"

namespace xsrtrace {

PasswordFields::PasswordFields(Layout layout)
    : step_(layout == Layout::ClusterAdd ? Step::AddMode : Step::Serial), add_(layout == Layout::ClusterAdd) {}

bool PasswordFields::next(unsigned char b) {
    switch (step_) {
        case Step::Done:
            return false;
        case Step::AddMode:
        case Step::Serial:
        case Step::ClusterCount:
        case Step::NodeCount:
        case Step::Port:
            acc_[got_++] = b;
            if (got_ == 4) {
                got_ = 0;
                after_int(static_cast<int32_t>(acc_[0] | (acc_[1] << 8) | (acc_[2] << 16) |
                                               (static_cast<uint32_t>(acc_[3]) << 24)));
            }
            return false;
        case Step::AddNul:
            step_ = Step::NodeCount;
            return false;
        default:
            break;
    }
    // A NUL-terminated string.
    if (b == 0) {
        after_string();
        return false;
    }
    return step_ == Step::Pass;
}

void PasswordFields::after_int(int32_t v) {
    switch (step_) {
        case Step::AddMode:
            // Mode 0 edits a cluster's attributes and carries no node.
            step_ = v == 1 ? Step::AddName : Step::Done;
            clusters_left_ = 1;
            break;
        case Step::Serial: step_ = Step::ClusterCount; break;
        case Step::ClusterCount:
            clusters_left_ = v;
            step_ = v > 0 ? Step::Name : Step::Done;
            break;
        case Step::NodeCount:
            nodes_left_ = v;
            if (v > 0) step_ = Step::Server;
            else if (v == 0) end_cluster();
            else step_ = Step::Done;
            break;
        case Step::Port: step_ = Step::User; break;
        default: step_ = Step::Done; break;
    }
}

void PasswordFields::after_string() {
    switch (step_) {
        case Step::AddName: step_ = Step::AddTag; break;
        case Step::AddTag: step_ = Step::AddNul; break;
        case Step::Name: step_ = Step::Tag; break;
        case Step::Tag: step_ = Step::AttrA; break;
        case Step::AttrA: step_ = Step::AttrB; break;
        case Step::AttrB: step_ = Step::NodeCount; break;
        case Step::Server: step_ = Step::Port; break;
        case Step::User: step_ = Step::Pass; break;
        case Step::Pass: step_ = Step::Attr; break;
        case Step::Attr:
            if (--nodes_left_ > 0) step_ = Step::Server;
            else end_cluster();
            break;
        default: step_ = Step::Done; break;
    }
}

void PasswordFields::end_cluster() {
    step_ = !add_ && --clusters_left_ > 0 ? Step::Name : Step::Done;
}

void PasswordFields::mask(char* p, std::size_t n) {
    for (std::size_t i = 0; i < n && !done(); ++i)
        if (next(static_cast<unsigned char>(p[i]))) p[i] = kMaskByte;
}

void mask_cluster_add(std::string* body) {
    PasswordFields f(PasswordFields::Layout::ClusterAdd);
    if (!body->empty()) f.mask(&(*body)[0], body->size());
}

std::string cluster_add_without_passwords(const std::string& body) {
    PasswordFields f(PasswordFields::Layout::ClusterAdd);
    std::string out;
    out.reserve(body.size());
    for (char c : body)
        if (!f.next(static_cast<unsigned char>(c))) out += c;
    return out;
}

}  // namespace xsrtrace
