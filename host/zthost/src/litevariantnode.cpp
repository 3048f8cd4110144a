// SZtLiteVariantNode: lookup of children by type, name and occurrence.
#include "litevariantnode.h"

SZtLiteVariantNode* SZtLiteVariantNode::FindChild(EZtVariantType childType,
                                                  const std::wstring& childName, int occurrence) {
    const auto* self = this;
    return const_cast<SZtLiteVariantNode*>(self->FindChild(childType, childName, occurrence));
}

const SZtLiteVariantNode* SZtLiteVariantNode::FindChild(EZtVariantType childType,
                                                        const std::wstring& childName,
                                                        int occurrence) const {
    for (const SZtLiteVariantNode& child : children) {
        if (child.type == childType && child.name == childName && occurrence-- == 0) {
            return &child;
        }
    }
    return nullptr;
}
