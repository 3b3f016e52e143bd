#pragma once
// Layout-constraint builders for any view. Unless said otherwise they return constraints without
// installing them. Visual formats bind the view as "selfView" and the other view as "view".

#include <memory>
#include <string>
#include <vector>

#include "platform/ui/LayoutConstraint.h"
#include "platform/ui/View.h"

namespace app::TnqAutoLayout {

using Constraint = std::shared_ptr<pf::LayoutConstraint>;
using Constraints = std::vector<Constraint>;
using ViewPtr = std::shared_ptr<pf::View>;

Constraint constraintWidth(const ViewPtr& self, double value);
Constraint constraintHeight(const ViewPtr& self, double value);
Constraint constraintWidthEqualToView(const ViewPtr& self, const ViewPtr& view);
Constraint constraintHeightEqualToView(const ViewPtr& self, const ViewPtr& view);
Constraint constraintCenterXEqualToView(const ViewPtr& self, const ViewPtr& view);
Constraint constraintCenterYEqualToView(const ViewPtr& self, const ViewPtr& view);
Constraint constraintTopEqualToView(const ViewPtr& self, const ViewPtr& view);
Constraint constraintBottomEqualToView(const ViewPtr& self, const ViewPtr& view);
Constraint constraintLeftEqualToView(const ViewPtr& self, const ViewPtr& view);
Constraint constraintRightEqualToView(const ViewPtr& self, const ViewPtr& view);
Constraints constraintsSizeEqualToView(const ViewPtr& self, const ViewPtr& view);  // [height, width]
Constraints constraintsSize(const ViewPtr& self, pf::Size size);                   // [height, width]

bool constraintMatches(const pf::LayoutConstraint& a, const pf::LayoutConstraint& b);
// The first matching constraint of the view, else of its superview.
Constraint constraintMatchingConstraint(const pf::View& self, const pf::LayoutConstraint& constraint);
void removeMatchingConstraint(pf::View& self, const pf::LayoutConstraint& constraint);

// Installed on the superview.
void centerVerticalInSuperView(const ViewPtr& self);  // centre x equal to the superview's
void centerHorizonInSuperView(const ViewPtr& self);   // centre y equal to the superview's
void centerInSuperView(const ViewPtr& self);
void constrainWithinSuperView(const ViewPtr& self);

std::string nameForLayoutAttribute(int attribute);
std::string nameForLayoutRelation(int relation);
std::string nameForItem(const pf::View& self, const pf::View* item);
std::string nameForConstraint(const pf::View& self, const pf::LayoutConstraint& constraint);

Constraints constraintsFillWidth(const ViewPtr& self);
Constraints constraintsFillHeight(const ViewPtr& self);
Constraints constraintsFill(const ViewPtr& self);
Constraints constraintsTopFromView(const ViewPtr& self, double top, const ViewPtr& view);
Constraints constraintsBottomFromView(const ViewPtr& self, double bottom, const ViewPtr& view);
Constraints constraintsLeftFromView(const ViewPtr& self, double left, const ViewPtr& view);
Constraints constraintsRightFromView(const ViewPtr& self, double right, const ViewPtr& view);
Constraints constraintsTopInContainer(const ViewPtr& self, double top);
Constraints constraintsBottomInContainer(const ViewPtr& self, double bottom);
Constraints constraintsLeftInContainer(const ViewPtr& self, double left);
Constraints constraintsRightInContainer(const ViewPtr& self, double right);
Constraints constraintsAssignTop(const ViewPtr& self);
Constraints constraintsAssignBottom(const ViewPtr& self);
Constraints constraintsAssignLeft(const ViewPtr& self);
Constraints constraintsAssignRight(const ViewPtr& self);

}  // namespace app::TnqAutoLayout
