#pragma once
// An image view: draws its image by its content mode; plays a list of images on the clock.

#include <memory>
#include <vector>

#include "platform/ui/Image.h"
#include "platform/ui/View.h"

namespace pf {

class ImageView : public View {
 public:
  explicit ImageView(const Rect& frame = Rect());
  // Sized to the image.
  explicit ImageView(std::shared_ptr<Image> image);
  static std::shared_ptr<ImageView> make(const Rect& frame = Rect()) { return std::make_shared<ImageView>(frame); }
  std::string className() const override { return "UIImageView"; }

  std::shared_ptr<Image> image() const { return image_; }
  void setImage(std::shared_ptr<Image> image);
  const std::vector<std::shared_ptr<Image>>& animationImages() const { return animationImages_; }
  void setAnimationImages(std::vector<std::shared_ptr<Image>> images);
  double animationDuration() const { return duration_; }
  void setAnimationDuration(double seconds) { duration_ = seconds; }
  int animationRepeatCount() const { return repeatCount_; }
  void setAnimationRepeatCount(int count) { repeatCount_ = count; }
  void startAnimating();
  void stopAnimating();
  bool isAnimating() const { return animating_; }

  // The image shown now (an animation frame while animating).
  std::shared_ptr<Image> displayedImage() const;
  Size sizeThatFits(Size size) const override;
  void drawRect(const Rect& rect) override;

 private:
  std::shared_ptr<Image> image_;
  std::vector<std::shared_ptr<Image>> animationImages_;
  double duration_ = 0;
  int repeatCount_ = 0;
  bool animating_ = false;
  double started_ = 0;
};

// Where an image of the given size lands in bounds under a content mode.
Rect imageRectForContentMode(ContentMode mode, Size image, const Rect& bounds);

}  // namespace pf
