#include "render/components/paragraph_painter.h"

#include "render/components/view_painter.h"

namespace VirelantDesktop::render {

Rect ParagraphContentBox(const MountedView& view) {
  const Rect& frame = view.layout.frame;
  const EdgeInsets& in = view.layout.contentInsets;
  return {in.left, in.top, frame.width - in.left - in.right, frame.height - in.top - in.bottom};
}

void PaintParagraph(Canvas& canvas, const MountedView& view) {
  PaintViewBox(canvas, view);
  const std::shared_ptr<const AttributedText>& text = view.model->text;
  if (!text || text->fragments.empty()) return;
  const Rect box = ParagraphContentBox(view);
  if (box.width <= 0 || box.height <= 0) return;
  canvas.Save();
  canvas.ClipRoundedRect(box, {});
  canvas.DrawParagraph(*text, view.model->paragraph, box);
  canvas.Restore();
}

}  // namespace VirelantDesktop::render
