#pragma once

class QWidget;

// Shows the preloader while the content loader runs, tells the user when loading failed, closes the
// preloader and returns whether loading succeeded.
bool loadResources(QWidget *preloader);
