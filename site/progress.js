// Sends the form in the background and follows the upload through the
// progress page while it runs; the results page then replaces this one.
(function () {
  const form = document.getElementById('upload');
  // The form's ID and its signature, which the progress page asks for too.
  const query = new URL(form.action).search;
  const panel = document.getElementById('progress');
  const bar = document.getElementById('bar');
  const percent = document.getElementById('percent');
  const detail = document.getElementById('detail');

  function megabytes(bytes) { return (bytes / 1048576).toFixed(1) + ' MB'; }

  function show(progress) {
    if (!progress.Started) return;
    bar.value = progress.PercentDone;
    percent.textContent = progress.PercentDone + '%';
    detail.textContent = megabytes(progress.BytesDone) + ' of ' + megabytes(progress.BytesTotal) + ', ' +
        megabytes(progress.BytesPerSecond) + '/s, ' + progress.SecondsLeft + ' s left';
  }

  form.addEventListener('submit', function (event) {
    event.preventDefault();
    panel.hidden = false;
    form.querySelector('button').disabled = true;
    let polling = true;
    (async function poll() {
      while (polling) {
        try {
          const answer = await fetch('/progress' + query, {cache: 'no-store'});
          if (polling) show(await answer.json());
        } catch (e) { /* the next poll tries again */ }
        await new Promise(function (resolve) { setTimeout(resolve, 200); });
      }
    })();
    const request = new XMLHttpRequest();
    request.open('POST', form.action);
    request.setRequestHeader('Accept', 'text/html');
    request.onloadend = function () {
      polling = false;
      document.open();
      document.write(request.responseText || '<p>The upload failed: the connection was lost.</p>');
      document.close();
    };
    request.send(new FormData(form));
  });
})();
