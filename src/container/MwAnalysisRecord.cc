#include "container/MwAnalysisRecord.h"

#include "platform/foundation/NotificationCenter.h"

namespace container {

void MwAnalysisRecord::post() const {
  pf::NotificationCenter::defaultCenter().post(kNetworkRequestAnalysisNotification,
                                               std::make_shared<const MwAnalysisRecord>(*this));
}

}  // namespace container
