#pragma once

namespace kavio::ctl {

class ImportPlan;

// Makes what a checked plan holds through the store's writer: its groups, then its units with
// their memberships, all in one transaction (also inside one the caller holds): all of them or,
// when anything fails, none. Throws DatabaseError; StoreFull when the keys run out.
void applyImport(const ImportPlan& plan);

} // namespace kavio::ctl
